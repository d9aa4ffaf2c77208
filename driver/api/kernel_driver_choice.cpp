// The definition behind the device layer's ChosenKernelDriver(): the emulator or libusb.

#include "driver/api/kernel_driver_choice.h"

#include "driver/device/command_set.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "sim/emulated_bus.h"
#include "sim/emulated_kernel_driver.h"

namespace torva {

usb::KernelDriver& ChosenKernelDriver() {
  static sim::EmulatedKernelDriver emulated;
  static usb::LibusbKernelDriver real(kAmplifierVendorId);
  if (sim::EmulatedBus::Instance().IsActive()) return emulated;
  return real;
}

}  // namespace torva
