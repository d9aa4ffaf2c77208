#pragma once
// The seam under the USB access layer: the one place that plays the kernel driver. UsbDevice and
// the endpoint classes speak only to these two interfaces; one implementation goes through
// libusb-1.0 to real amplifiers, the other drives the amplifier emulator.
//
// Threads: a KernelDriver may be used from any number of threads at once (CountDevices and
// OpenDevice lock internally). An OpenedDevice allows one transfer per endpoint at a time, and
// transfers on different endpoints from different threads at once; AbortPipe, ResetPipe,
// CurrentFrameNumber and Speed may be called from any thread while a transfer runs (AbortPipe is
// how another thread ends a pending bulk read). The OpenedDevice must be destroyed only when no
// call on it is running.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "driver/usb/transfer_record.h"
#include "driver/usb/usb_types.h"

namespace torva::usb {

// Drivers older than this version cannot take direct transfers: UsbDevice then switches every
// endpoint to the buffered form. Both drivers of the seam take direct transfers.
inline constexpr std::uint32_t kDirectTransferDriverVersion = 0x01050500;

// One opened device: descriptors, transfers, pipe and device control.
class OpenedDevice {
 public:
  OpenedDevice() = default;
  OpenedDevice(const OpenedDevice&) = delete;
  OpenedDevice& operator=(const OpenedDevice&) = delete;
  virtual ~OpenedDevice() = default;

  // The driver's version words and texts.
  virtual DriverInfo Driver() const = 0;

  // Raw descriptors; each copies at most `capacity` bytes and reports how many it copied.
  virtual TransferOutcome ReadDeviceDescriptor(std::uint8_t* out, std::size_t capacity) = 0;
  virtual TransferOutcome ReadConfigurationDescriptor(std::uint8_t index, std::uint8_t* out,
                                                      std::size_t capacity) = 0;
  virtual TransferOutcome ReadStringDescriptor(std::uint8_t index, std::uint16_t language,
                                               std::uint8_t* out, std::size_t capacity) = 0;

  // An endpoint-0 request (standard, class or vendor, either direction). The record gives
  // bmRequestType, bRequest, wValue, wIndex, wLength and the driver's time limit in seconds (0 =
  // none); `data` holds wLength bytes to send or receives up to wLength bytes. The caller waits at
  // most `waitMs` (kInfiniteTimeout = no limit) and the request is aborted when that runs out. The
  // driver writes its statuses into the record.
  virtual TransferOutcome ControlTransfer(TransferRecord& record, std::uint8_t* data,
                                          std::uint32_t waitMs) = 0;

  // A bulk or interrupt transfer of record.dataLength bytes on record.endpointAddress (IN when
  // bit 7 is set), waiting at most `waitMs` (kInfiniteTimeout = until data arrives or the pipe is
  // aborted). Statuses are written into the record.
  virtual TransferOutcome DataTransfer(EndpointType type, TransferRecord& record,
                                       std::uint8_t* data, std::uint32_t waitMs) = 0;

  // An isochronous transfer: record.dataLength bytes split into `packetCount` packets whose
  // lengths are given in `packets` (and, for IN, replaced by what arrived).
  virtual TransferOutcome IsochronousTransfer(TransferRecord& record, std::uint8_t* data,
                                              IsoPacket* packets, std::size_t packetCount,
                                              std::uint32_t waitMs) = 0;

  // Ends every pending transfer on the endpoint promptly (they report kCancelled). A transfer
  // started after the abort is not affected.
  virtual bool AbortPipe(std::uint8_t endpoint) = 0;
  // Clears a halt (stall) of the endpoint.
  virtual bool ResetPipe(std::uint8_t endpoint) = 0;
  virtual bool ResetDevice() = 0;

  // The bus's current USB frame number (11 bits, one per millisecond).
  virtual std::optional<std::uint32_t> CurrentFrameNumber() = 0;
  virtual BusSpeed Speed() = 0;

  // Alternate setting of interface 0.
  virtual std::optional<std::uint8_t> AlternateSetting() = 0;
  // Takes interface 0 for this handle (once) and selects the setting: kSuccess, kBusy while
  // another program holds the interface, or why the setting could not be selected.
  virtual UsbResult SelectAlternateSetting(std::uint8_t setting) = 0;
};

// Finds and opens the devices that the kernel driver serves.
class KernelDriver {
 public:
  KernelDriver() = default;
  KernelDriver(const KernelDriver&) = delete;
  KernelDriver& operator=(const KernelDriver&) = delete;
  virtual ~KernelDriver() = default;

  // Devices present now.
  virtual int CountDevices() = 0;
  // Opens the index-th present device (0-based); nullptr when there is no such device or it
  // cannot be opened.
  virtual std::unique_ptr<OpenedDevice> OpenDevice(int index) = 0;
};

}  // namespace torva::usb
