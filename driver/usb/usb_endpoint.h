#pragma once
// Endpoint objects of an opened USB device. Each carries transfers on one endpoint through the
// kernel driver: it builds the transfer record, issues the request, waits for it (up to its
// time-out; kInfiniteTimeout waits until data arrives or the pipe is aborted) and keeps the
// statuses of the last transfer for inspection.
//
// Threads: an endpoint's transfers are made by one thread at a time; AbortPipe (and ResetPipe)
// may be called from another thread while a transfer is pending, which is how the control side
// ends a pending bulk read of the device thread. The statuses are written only by the transferring
// thread. The OpenedDevice must outlive its endpoints (UsbDevice owns both).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/usb/descriptor_parser.h"
#include "driver/usb/kernel_driver.h"
#include "driver/usb/transfer_record.h"

namespace torva::usb {

// How the data of a transfer reaches the driver: in the caller's buffer (direct), or copied
// behind the transfer record into a buffer of the endpoint (buffered).
enum class TransferMode { kDirect, kBuffered };

inline constexpr std::uint32_t kDefaultEndpointTimeoutMs = 10000;

class CCyUSBEndPoint {
 public:
  CCyUSBEndPoint(OpenedDevice* device, const EndpointDescriptor& descriptor);
  CCyUSBEndPoint(const CCyUSBEndPoint&) = delete;
  CCyUSBEndPoint& operator=(const CCyUSBEndPoint&) = delete;
  virtual ~CCyUSBEndPoint() = default;

  // Sends or receives `length` bytes (direction by the endpoint address); `length` receives the
  // bytes transferred. True only when the request completed with both statuses 0. Fails at once
  // when the device is closed, `length` is negative or the buffer is missing.
  bool Transfer(std::uint8_t* buffer, std::int32_t& length);
  // Ends a pending transfer on this endpoint (callable from another thread).
  bool AbortPipe();
  // Clears a halt of this endpoint.
  bool ResetPipe();

  std::uint8_t DescriptorLength() const { return descriptorLength_; }
  std::uint8_t DescriptorType() const { return descriptorType_; }
  std::uint8_t Address() const { return address_; }
  std::uint8_t Attributes() const { return attributes_; }
  EndpointType Type() const { return static_cast<EndpointType>(attributes_ & kEndpointTypeMask); }
  // Packets per microframe times the packet size of one packet (bits 0..10).
  std::uint32_t MaxPacketSize() const { return maxPacketSize_; }
  // Bits 11..12 of wMaxPacketSize plus 1.
  std::uint32_t PacketsPerMicroframe() const { return packetsPerMicroframe_; }
  std::uint8_t Interval() const { return interval_; }
  bool IsIn() const { return directionIn_; }

  std::uint32_t TimeOut() const { return timeoutMs_; }
  void SetTimeOut(std::uint32_t milliseconds) { timeoutMs_ = milliseconds; }
  TransferMode Mode() const { return mode_; }
  void SetMode(TransferMode mode) { mode_ = mode; }

  // Of the last transfer.
  std::uint32_t UsbdStatus() const { return usbdStatus_; }
  std::uint32_t NtStatus() const { return ntStatus_; }
  std::uint32_t BytesTransferred() const { return bytesTransferred_; }
  std::uint32_t LastError() const { return lastError_; }
  const TransferRecord& LastRecord() const { return record_; }

  // Forgets the device (it is being closed): every later request fails at once.
  void Detach() { device_ = nullptr; }

 protected:
  // In slot order: the direct form, the buffered form, the form this endpoint uses, and the end
  // of a transfer.
  virtual TransferOutcome BeginDirectTransfer(std::uint8_t* buffer, std::size_t length);
  virtual TransferOutcome BeginBufferedTransfer(std::uint8_t* buffer, std::size_t length);
  virtual TransferOutcome BeginDataTransfer(std::uint8_t* buffer, std::size_t length) = 0;
  virtual bool FinishDataTransfer(const TransferOutcome& outcome, std::int32_t& length);

  // A record for a data transfer on this endpoint.
  void PrepareDataRecord(std::size_t length, std::uint32_t dataOffset);

  OpenedDevice* device_;
  TransferRecord record_{};
  std::vector<std::uint8_t> staging_;  // the buffered form's copy of the data

 private:
  std::uint8_t descriptorLength_;
  std::uint8_t descriptorType_;
  std::uint8_t address_;
  std::uint8_t attributes_;
  std::uint32_t maxPacketSize_;
  std::uint32_t packetsPerMicroframe_;
  std::uint8_t interval_;
  bool directionIn_;
  std::uint32_t timeoutMs_ = kDefaultEndpointTimeoutMs;
  TransferMode mode_ = TransferMode::kDirect;
  std::uint32_t usbdStatus_ = 0;
  std::uint32_t ntStatus_ = 0;
  std::uint32_t bytesTransferred_ = 0;
  std::uint32_t lastError_ = 0;
};

// Endpoint 0: standard, class and vendor requests in either direction.
class CCyControlEndPoint : public CCyUSBEndPoint {
 public:
  CCyControlEndPoint(OpenedDevice* device, std::uint16_t maxPacketSize);

  RequestTarget Target() const { return target_; }
  void SetTarget(RequestTarget target) { target_ = target; }
  RequestKind ReqType() const { return kind_; }
  void SetReqType(RequestKind kind) { kind_ = kind; }
  RequestDirection Direction() const { return direction_; }
  void SetDirection(RequestDirection direction) { direction_ = direction; }
  std::uint8_t ReqCode() const { return request_; }
  void SetReqCode(std::uint8_t request) { request_ = request; }
  std::uint16_t Value() const { return value_; }
  void SetValue(std::uint16_t value) { value_ = value; }
  std::uint16_t Index() const { return index_; }
  void SetIndex(std::uint16_t index) { index_ = index; }

  // Sets the direction host-to-device (resp. device-to-host) and transfers.
  bool WriteControl(std::uint8_t* buffer, std::int32_t& length);
  bool ReadControl(std::uint8_t* buffer, std::int32_t& length);

 protected:
  TransferOutcome BeginDataTransfer(std::uint8_t* buffer, std::size_t length) override;

 private:
  RequestTarget target_ = RequestTarget::kDevice;
  RequestKind kind_ = RequestKind::kVendor;
  RequestDirection direction_ = RequestDirection::kToDevice;
  std::uint8_t request_ = 0;
  std::uint16_t value_ = 0;
  std::uint16_t index_ = 0;
};

class CCyBulkEndPoint : public CCyUSBEndPoint {
 public:
  using CCyUSBEndPoint::CCyUSBEndPoint;

 protected:
  TransferOutcome BeginDataTransfer(std::uint8_t* buffer, std::size_t length) override;
};

class CCyInterruptEndPoint : public CCyUSBEndPoint {
 public:
  using CCyUSBEndPoint::CCyUSBEndPoint;

 protected:
  TransferOutcome BeginDataTransfer(std::uint8_t* buffer, std::size_t length) override;
};

// Isochronous transfers carry a table of per-packet lengths and statuses after the record.
class CCyIsocEndPoint : public CCyUSBEndPoint {
 public:
  using CCyUSBEndPoint::CCyUSBEndPoint;

  // The packet table of the last transfer.
  const std::vector<IsoPacket>& Packets() const { return packets_; }

 protected:
  TransferOutcome BeginDirectTransfer(std::uint8_t* buffer, std::size_t length) override;
  TransferOutcome BeginBufferedTransfer(std::uint8_t* buffer, std::size_t length) override;
  TransferOutcome BeginDataTransfer(std::uint8_t* buffer, std::size_t length) override;

 private:
  TransferOutcome Run(std::uint8_t* data, std::size_t length, std::uint32_t dataOffset);
  std::vector<IsoPacket> packets_;
};

}  // namespace torva::usb
