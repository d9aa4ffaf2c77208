#pragma once
// Where an emulated USB device sits on the emulated bus, and the umockdev record that puts it
// there: its sysfs directory with the attributes libusb and udev read (bus and device numbers,
// speed, identifiers, the raw descriptors), its udev properties and its /dev/bus/usb node.

#include <cstdint>
#include <string>
#include <vector>

namespace torva::e2e {

struct BusAddress {
  int bus = 1;
  int device = 2;  // 1 is the root hub
  int port = 1;    // port of the root hub the device is plugged into
};

// What the record says about the device.
struct UsbDeviceFacts {
  BusAddress address;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  bool highSpeed = true;
  std::vector<std::uint8_t> descriptors;  // device descriptor, then each configuration's
  std::string manufacturer;
  std::string product;
  std::string serial;
};

// "/sys/devices/.../usb1/1-<port>".
std::string SysfsPath(const BusAddress& address);
// "/dev/bus/usb/BBB/DDD".
std::string DeviceNode(const BusAddress& address);
// The record for umockdev_testbed_add_from_string.
std::string UsbDeviceRecord(const UsbDeviceFacts& facts);

}  // namespace torva::e2e
