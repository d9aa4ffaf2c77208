#pragma once
// Which kernel driver the library and its tools open amplifiers with: the emulator's while
// TORVA_SIMULATE is set or a test has installed emulated amplifiers (sim::EmulatedBus), otherwise
// libusb's for the amplifiers' vendor. Decided afresh at every call, so a test may switch between
// them. The choice is made here, above the USB layer, which knows neither the emulator nor the
// amplifiers' protocol.

#include "driver/device/command_set.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "sim/emulated_bus.h"
#include "sim/emulated_kernel_driver.h"

namespace torva {

inline usb::KernelDriver& ChosenKernelDriver() {
  static sim::EmulatedKernelDriver emulated;
  static usb::LibusbKernelDriver real(kAmplifierVendorId);
  if (sim::EmulatedBus::Instance().IsActive()) return emulated;
  return real;
}

}  // namespace torva
