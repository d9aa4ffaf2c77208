// Counting the amplifiers on the bus on its own, without the library's state.

#include "driver/control/device_count.h"

#include "driver/device/amplifier_identity.h"
#include "driver/device/kernel_driver_source.h"
#include "driver/usb/usb_device.h"

namespace torva {

int CountAttachedAmplifiers() {
  usb::UsbDevice device(ChosenKernelDriver());
  const int devices = device.CountDevices();
  int amplifiers = 0;
  for (int index = 0; index < devices; ++index) {
    if (device.OpenDevice(index) && IsAmplifier(device.VendorId(), device.ProductId())) ++amplifiers;
    device.CloseDevice();
  }
  return amplifiers;
}

}  // namespace torva
