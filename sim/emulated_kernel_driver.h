#pragma once
// The kernel driver seam played by the amplifier emulator: the devices of EmulatedBus, with
// every request handed to the device's transport-independent model.
//
// Threads: as KernelDriver and OpenedDevice require; the model does its own locking, and this
// adapter keeps no mutable state of its own.

#include <memory>

#include "driver/usb/kernel_driver.h"

namespace torva::sim {

class EmulatedKernelDriver final : public usb::KernelDriver {
 public:
  int CountDevices() override;
  std::unique_ptr<usb::OpenedDevice> OpenDevice(int index) override;
};

}  // namespace torva::sim
