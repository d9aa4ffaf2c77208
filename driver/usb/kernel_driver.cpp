#include "driver/usb/kernel_driver.h"

#include "driver/usb/emulated_kernel_driver.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "sim/emulated_bus.h"

namespace torva::usb {

KernelDriver& ActiveKernelDriver() {
  static EmulatedKernelDriver emulated;
  static LibusbKernelDriver real;
  if (sim::EmulatedBus::Instance().IsActive()) return emulated;
  return real;
}

}  // namespace torva::usb
