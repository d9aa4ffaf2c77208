#pragma once
// A listing of the devices the kernel driver serves, for command-line tools.

#include <string>
#include <vector>

#include "driver/usb/kernel_driver.h"

namespace torva::usb {

struct UsbDeviceSummary {
  int index = 0;
  bool opened = false;  // false when the device could not be opened (nothing else is known)
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string serialNumber;
  std::string product;
  BusSpeed speed = BusSpeed::kUnknown;
};

// Opens each device in turn and notes what it reports.
std::vector<UsbDeviceSummary> ListUsbDevices(KernelDriver& driver);

// One line per device: "0  1f6d:012c  serial TA601201  high speed  Torva USB Amplifier", or
// "1  (cannot be opened)"; "no devices" when the list is empty.
std::string FormatUsbDeviceList(const std::vector<UsbDeviceSummary>& devices);

}  // namespace torva::usb
