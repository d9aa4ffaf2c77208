#include "driver/usb/usb_endpoint.h"

#include <cstring>
#include <limits>

#include "platform/diagnostic_log.h"

namespace torva::usb {
namespace {

constexpr std::uint16_t kPacketSizeMask = 0x07FF;
constexpr int kExtraPacketsShift = 11;
constexpr std::uint16_t kExtraPacketsMask = 0x03;
constexpr std::uint8_t kControlEndpointAddress = 0;
constexpr std::size_t kMaxControlDataBytes = std::numeric_limits<std::uint16_t>::max();

TransferOutcome Refused() { return {UsbResult::kInvalidParameter, 0, 0}; }

}  // namespace

CCyUSBEndPoint::CCyUSBEndPoint(OpenedDevice* device, const EndpointDescriptor& descriptor)
    : device_(device),
      descriptorLength_(descriptor.length),
      descriptorType_(descriptor.descriptorType),
      address_(descriptor.address),
      attributes_(descriptor.attributes),
      maxPacketSize_(0),
      packetsPerMicroframe_(((descriptor.maxPacketSize >> kExtraPacketsShift) & kExtraPacketsMask) +
                            1u),
      interval_(descriptor.interval),
      directionIn_(IsInEndpoint(descriptor.address)) {
  maxPacketSize_ = packetsPerMicroframe_ * (descriptor.maxPacketSize & kPacketSizeMask);
}

bool CCyUSBEndPoint::Transfer(std::uint8_t* buffer, std::int32_t& length) {
  if (device_ == nullptr || length < 0 || (buffer == nullptr && length > 0)) {
    usbdStatus_ = static_cast<std::uint32_t>(device_ == nullptr ? UsbResult::kNoDevice
                                                                : UsbResult::kInvalidParameter);
    bytesTransferred_ = 0;
    length = 0;
    return false;
  }
  const TransferOutcome outcome = BeginDataTransfer(buffer, static_cast<std::size_t>(length));
  return FinishDataTransfer(outcome, length);
}

void CCyUSBEndPoint::PrepareDataRecord(std::size_t length, std::uint32_t dataOffset) {
  record_ = TransferRecord{};
  record_.endpointAddress = address_;
  record_.dataOffset = dataOffset;
  record_.dataLength = static_cast<std::uint32_t>(length);
}

TransferOutcome CCyUSBEndPoint::BeginDirectTransfer(std::uint8_t* buffer, std::size_t length) {
  PrepareDataRecord(length, 0);
  return device_->DataTransfer(Type(), record_, buffer, timeoutMs_);
}

TransferOutcome CCyUSBEndPoint::BeginBufferedTransfer(std::uint8_t* buffer, std::size_t length) {
  PrepareDataRecord(length, static_cast<std::uint32_t>(kTransferRecordBytes));
  staging_.assign(length, 0);
  if (!directionIn_ && length > 0) std::memcpy(staging_.data(), buffer, length);
  TransferOutcome outcome = device_->DataTransfer(Type(), record_, staging_.data(), timeoutMs_);
  if (outcome.bytes > length) outcome.bytes = length;
  if (directionIn_ && outcome.bytes > 0) std::memcpy(buffer, staging_.data(), outcome.bytes);
  return outcome;
}

bool CCyUSBEndPoint::FinishDataTransfer(const TransferOutcome& outcome, std::int32_t& length) {
  usbdStatus_ = record_.usbStatus;
  ntStatus_ = record_.systemStatus;
  lastError_ = outcome.systemError;
  bytesTransferred_ = static_cast<std::uint32_t>(outcome.bytes);
  length = static_cast<std::int32_t>(outcome.bytes);
  // Time-outs and aborts are part of normal running (an idle pipe, a stop): only real errors show.
  if (outcome.result != UsbResult::kSuccess && outcome.result != UsbResult::kTimeout &&
      outcome.result != UsbResult::kCancelled) {
    TORVA_LOG_WARNING("transfer on endpoint 0x%02x failed: %s (system status %u)", address_,
                      UsbResultName(outcome.result), outcome.systemError);
  }
  return outcome.Succeeded() && usbdStatus_ == 0 && ntStatus_ == 0;
}

bool CCyUSBEndPoint::AbortPipe() {
  return device_ != nullptr && device_->AbortPipe(address_);
}

bool CCyUSBEndPoint::ResetPipe() {
  const bool reset = device_ != nullptr && device_->ResetPipe(address_);
  TORVA_LOG_INFO("pipe 0x%02x reset%s", address_, reset ? "" : " failed");
  return reset;
}

// ---- Control endpoint ----

CCyControlEndPoint::CCyControlEndPoint(OpenedDevice* device, std::uint16_t maxPacketSize)
    : CCyUSBEndPoint(device, EndpointDescriptor{7, kDescriptorTypeEndpoint,
                                                kControlEndpointAddress, 0, maxPacketSize, 0}) {}

bool CCyControlEndPoint::WriteControl(std::uint8_t* buffer, std::int32_t& length) {
  direction_ = RequestDirection::kToDevice;
  return Transfer(buffer, length);
}

bool CCyControlEndPoint::ReadControl(std::uint8_t* buffer, std::int32_t& length) {
  direction_ = RequestDirection::kFromDevice;
  return Transfer(buffer, length);
}

TransferOutcome CCyControlEndPoint::BeginDataTransfer(std::uint8_t* buffer, std::size_t length) {
  // wLength has 16 bits: a longer request cannot be expressed and is refused.
  if (length > kMaxControlDataBytes) return Refused();
  record_ = TransferRecord{};
  record_.requestType = MakeRequestType(direction_, kind_, target_);
  record_.request = request_;
  record_.value = value_;
  record_.index = index_;
  record_.length = static_cast<std::uint16_t>(length);
  record_.timeoutSeconds = ControlTimeoutSeconds(TimeOut());
  record_.dataOffset = static_cast<std::uint32_t>(kTransferRecordBytes);
  record_.dataLength = static_cast<std::uint32_t>(length);
  // Control data always travels behind the record, in the endpoint's own buffer.
  staging_.assign(length, 0);
  const bool in = direction_ == RequestDirection::kFromDevice;
  if (!in && length > 0) std::memcpy(staging_.data(), buffer, length);
  TransferOutcome outcome = device_->ControlTransfer(record_, staging_.data(), TimeOut());
  if (outcome.bytes > length) outcome.bytes = length;
  if (in && outcome.bytes > 0) std::memcpy(buffer, staging_.data(), outcome.bytes);
  return outcome;
}

// ---- Bulk and interrupt endpoints ----

TransferOutcome CCyBulkEndPoint::BeginDataTransfer(std::uint8_t* buffer, std::size_t length) {
  return Mode() == TransferMode::kBuffered ? BeginBufferedTransfer(buffer, length)
                                           : BeginDirectTransfer(buffer, length);
}

TransferOutcome CCyInterruptEndPoint::BeginDataTransfer(std::uint8_t* buffer,
                                                        std::size_t length) {
  return Mode() == TransferMode::kBuffered ? BeginBufferedTransfer(buffer, length)
                                           : BeginDirectTransfer(buffer, length);
}

// ---- Isochronous endpoint ----

TransferOutcome CCyIsocEndPoint::Run(std::uint8_t* data, std::size_t length,
                                     std::uint32_t dataOffset) {
  packets_.clear();
  if (MaxPacketSize() == 0) return Refused();
  const std::size_t count = (length + MaxPacketSize() - 1) / MaxPacketSize();
  packets_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t rest = length - i * MaxPacketSize();
    packets_[i].length = static_cast<std::uint32_t>(rest < MaxPacketSize() ? rest
                                                                            : MaxPacketSize());
  }
  PrepareDataRecord(length, dataOffset);
  record_.isoPacketTableOffset = static_cast<std::uint32_t>(kTransferRecordBytes);
  record_.isoPacketTableLength = static_cast<std::uint32_t>(count * sizeof(IsoPacket));
  return device_->IsochronousTransfer(record_, data, packets_.data(), count, TimeOut());
}

TransferOutcome CCyIsocEndPoint::BeginDirectTransfer(std::uint8_t* buffer, std::size_t length) {
  return Run(buffer, length, 0);
}

TransferOutcome CCyIsocEndPoint::BeginBufferedTransfer(std::uint8_t* buffer, std::size_t length) {
  staging_.assign(length, 0);
  if (!IsIn() && length > 0) std::memcpy(staging_.data(), buffer, length);
  // The data follows the record and the packet table.
  const std::size_t packets = MaxPacketSize() == 0 ? 0 : (length + MaxPacketSize() - 1) /
                                                           MaxPacketSize();
  const auto offset =
      static_cast<std::uint32_t>(kTransferRecordBytes + packets * sizeof(IsoPacket));
  TransferOutcome outcome = Run(staging_.data(), length, offset);
  if (outcome.bytes > length) outcome.bytes = length;
  if (IsIn() && outcome.bytes > 0) std::memcpy(buffer, staging_.data(), outcome.bytes);
  return outcome;
}

TransferOutcome CCyIsocEndPoint::BeginDataTransfer(std::uint8_t* buffer, std::size_t length) {
  return Mode() == TransferMode::kBuffered ? BeginBufferedTransfer(buffer, length)
                                           : BeginDirectTransfer(buffer, length);
}

}  // namespace torva::usb
