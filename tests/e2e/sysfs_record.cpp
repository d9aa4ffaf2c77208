#include "tests/e2e/sysfs_record.h"

#include <cstdio>

namespace torva::e2e {
namespace {

constexpr const char* kHostControllerPath = "/sys/devices/pci0000:00/0000:00:14.0";
constexpr int kUsbDeviceMajor = 189;
// Minor numbers of usb_device nodes: 128 per bus.
constexpr int kMinorsPerBus = 128;
constexpr const char* kHighSpeedMbps = "480";
constexpr const char* kFullSpeedMbps = "12";
constexpr std::uint16_t kDeviceRelease = 0x0100;

// `value` in decimal with at least three digits, as in bus and device node names.
std::string ThreeDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", value);
  return text;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

// A sysfs attribute; the value ends with a newline as the kernel writes it.
std::string Attribute(const std::string& name, const std::string& value) {
  return "A: " + name + "=" + value + "\\n\n";
}

std::string Property(const std::string& name, const std::string& value) {
  return "E: " + name + "=" + value + "\n";
}

}  // namespace

std::string SysfsPath(const BusAddress& address) {
  const std::string bus = std::to_string(address.bus);
  return std::string(kHostControllerPath) + "/usb" + bus + "/" + bus + "-" +
         std::to_string(address.port);
}

std::string DeviceNode(const BusAddress& address) {
  return "/dev/bus/usb/" + ThreeDigits(address.bus) + "/" + ThreeDigits(address.device);
}

std::string UsbDeviceRecord(const UsbDeviceFacts& facts) {
  const BusAddress& at = facts.address;
  const std::string node = DeviceNode(at);
  const std::string minor = std::to_string((at.bus - 1) * kMinorsPerBus + at.device - 1);
  const std::string major = std::to_string(kUsbDeviceMajor);
  char product[32];
  std::snprintf(product, sizeof product, "%x/%x/%x", facts.vendorId, facts.productId,
                kDeviceRelease);
  std::string record = "P: " + SysfsPath(at).substr(std::string("/sys").size()) + "\n";
  // The node's initial content does not matter: the testbed replaces it by a FIFO.
  record += "N: " + node.substr(std::string("/dev/").size()) + "\n";
  record += Property("SUBSYSTEM", "usb");
  record += Property("DEVTYPE", "usb_device");
  record += Property("DEVNAME", node);
  record += Property("BUSNUM", ThreeDigits(at.bus));
  record += Property("DEVNUM", ThreeDigits(at.device));
  record += Property("MAJOR", major);
  record += Property("MINOR", minor);
  record += Property("PRODUCT", product);
  record += Attribute("busnum", std::to_string(at.bus));
  record += Attribute("devnum", std::to_string(at.device));
  record += Attribute("devpath", std::to_string(at.port));
  record += Attribute("speed", facts.highSpeed ? kHighSpeedMbps : kFullSpeedMbps);
  record += Attribute("idVendor", Hex4(facts.vendorId));
  record += Attribute("idProduct", Hex4(facts.productId));
  record += Attribute("bcdDevice", Hex4(kDeviceRelease));
  record += Attribute("bConfigurationValue", "1");
  record += Attribute("bNumConfigurations", "1");
  record += Attribute("bNumInterfaces", " 1");
  record += Attribute("dev", major + ":" + minor);
  record += Attribute("manufacturer", facts.manufacturer);
  record += Attribute("product", facts.product);
  record += Attribute("serial", facts.serial);
  record += "H: descriptors=" + Hex(facts.descriptors) + "\n";
  return record;
}

}  // namespace torva::e2e
