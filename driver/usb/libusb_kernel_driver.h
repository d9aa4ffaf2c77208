#pragma once
// The kernel driver seam over libusb-1.0, for real amplifiers on Linux. The "device-interface
// class" it serves is the set of USB devices of one vendor (the amplifiers' vendor unless told
// otherwise); a udev rule gives ordinary users access to them.
//
// Threads: as KernelDriver and OpenedDevice require. libusb is thread-safe; each transfer waits
// for its own completion in libusb's event handling (blocking in poll, never spinning), and a
// per-device mutex guards the list of transfers in flight so that AbortPipe can cancel them from
// another thread, and the interface claim.

#include <cstdint>
#include <memory>

#include "driver/usb/kernel_driver.h"

namespace torva::usb {

class LibusbKernelDriver final : public KernelDriver {
 public:
  explicit LibusbKernelDriver(std::uint16_t vendorId);

  int CountDevices() override;
  std::unique_ptr<OpenedDevice> OpenDevice(int index) override;
  // Whether libusb could be initialised at all (false on a machine without USB support).
  static bool Available();

 private:
  const std::uint16_t vendorId_;
};

}  // namespace torva::usb
