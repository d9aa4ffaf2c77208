#pragma once
// One device opened through libusb-1.0: its descriptors, transfers, pipe and device control. The
// OpenedDevice half of LibusbKernelDriver, which finds the device and opens its handle; internal
// to the USB layer.
//
// Threads: as OpenedDevice requires. Each transfer is submitted asynchronously and its thread
// waits for the completion in libusb's event handling (blocking in poll, never spinning). The
// mutex guards the transfers in flight (so that AbortPipe on another thread can cancel them), the
// idle transfers kept for reuse, and the interface claim; it is never held while a transfer is
// waited for.

#include <libusb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "driver/usb/kernel_driver.h"

namespace torva::usb {

// The libusb context, shared by everything that uses the bus at the moment.
using LibusbContextReference = std::shared_ptr<libusb_context>;

class LibusbOpenedDevice final : public OpenedDevice {
 public:
  // Takes over `handle` (closed on destruction) and a reference to `device`; keeps the context
  // alive while the device is open.
  LibusbOpenedDevice(LibusbContextReference context, libusb_device* device,
                     libusb_device_handle* handle);
  ~LibusbOpenedDevice() override;

  DriverInfo Driver() const override;
  TransferOutcome ReadDeviceDescriptor(std::uint8_t* out, std::size_t capacity) override;
  TransferOutcome ReadConfigurationDescriptor(std::uint8_t index, std::uint8_t* out,
                                              std::size_t capacity) override;
  TransferOutcome ReadStringDescriptor(std::uint8_t index, std::uint16_t language,
                                       std::uint8_t* out, std::size_t capacity) override;
  TransferOutcome ControlTransfer(TransferRecord& record, std::uint8_t* data,
                                  std::uint32_t waitMs) override;
  TransferOutcome DataTransfer(EndpointType type, TransferRecord& record, std::uint8_t* data,
                               std::uint32_t waitMs) override;
  TransferOutcome IsochronousTransfer(TransferRecord& record, std::uint8_t* data,
                                      IsoPacket* packets, std::size_t packetCount,
                                      std::uint32_t waitMs) override;
  bool AbortPipe(std::uint8_t endpoint) override;
  bool ResetPipe(std::uint8_t endpoint) override;
  bool ResetDevice() override;
  std::optional<std::uint32_t> CurrentFrameNumber() override;
  BusSpeed Speed() override;
  std::optional<std::uint8_t> AlternateSetting() override;
  UsbResult SelectAlternateSetting(std::uint8_t setting) override;

 private:
  struct ReusableTransfer;
  using TransferLease = std::unique_ptr<ReusableTransfer>;

  // Interface 0 is claimed on first use rather than at open, so that a device another handle
  // holds can still be opened for its descriptors (the device thread's matching walk does that).
  // LIBUSB_SUCCESS once claimed, else why the claim failed: busy while another handle holds
  // the interface, no device once the device is gone (a transfer must say which).
  int EnsureClaimed();
  // The endpoint's idle transfer, or a new one while it is in use (another thread's request on
  // the same endpoint) or not yet made; nullptr when none can be allocated.
  TransferLease TakeTransfer(std::uint8_t endpoint);
  // Keeps the transfer for the endpoint's next request (one per endpoint; a surplus one is freed).
  void GiveBack(std::uint8_t endpoint, TransferLease lease);
  static void LIBUSB_CALL OnComplete(libusb_transfer* transfer);
  // Submits the transfer and waits for it in libusb's event handling: the thread blocks in poll
  // until this or another transfer completes, an abort cancels it, or its time-out ends it.
  TransferOutcome Run(libusb_transfer* transfer, std::uint8_t endpoint, TransferRecord& record);

  const LibusbContextReference context_;  // kept while the device is open
  libusb_device* const device_;
  libusb_device_handle* const handle_;
  std::mutex mutex_;  // guards inFlight_, idle_ and claimed_
  std::multimap<std::uint8_t, libusb_transfer*> inFlight_;
  std::map<std::uint8_t, TransferLease> idle_;  // freed before handle_ is closed
  bool claimed_ = false;
};

}  // namespace torva::usb
