#include "sim/usb_descriptors.h"

#include <string>

#include "driver/usb/usb_types.h"

namespace torva::sim {
namespace {

constexpr auto kDeviceDescriptorLength = static_cast<std::uint8_t>(usb::kDeviceDescriptorBytes);
constexpr auto kConfigurationLength = static_cast<std::uint8_t>(usb::kConfigurationHeaderBytes);
constexpr std::uint8_t kInterfaceLength = 9;
constexpr std::uint8_t kEndpointLength = 7;
constexpr std::uint8_t kTypeDevice = usb::kDescriptorTypeDevice;
constexpr std::uint8_t kTypeConfiguration = usb::kDescriptorTypeConfiguration;
constexpr std::uint8_t kTypeString = usb::kDescriptorTypeString;
constexpr std::uint8_t kTypeInterface = usb::kDescriptorTypeInterface;
constexpr std::uint8_t kTypeEndpoint = usb::kDescriptorTypeEndpoint;
constexpr std::uint16_t kUsb20 = 0x0200;
constexpr std::uint16_t kDeviceRelease = 0x0100;
constexpr std::uint8_t kVendorSpecificClass = 0xFF;
constexpr std::uint8_t kControlPacketBytes = 64;
constexpr std::uint8_t kAttributesBusPowered = 0x80;
constexpr std::uint8_t kMaxPowerTwoMilliampUnits = 250;  // 500 mA
constexpr auto kBulk = static_cast<std::uint8_t>(usb::EndpointType::kBulk);
constexpr std::uint16_t kHighSpeedBulkPacket = 512;
constexpr std::uint16_t kFullSpeedBulkPacket = 64;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

struct EndpointLayout {
  std::uint8_t address;
};

constexpr EndpointLayout kEndpoints[] = {{kCommandOutEndpoint}, {kDataEndpoint}, {kSpareInEndpoint}};

}  // namespace

std::vector<std::uint8_t> DeviceDescriptorBytes(const AmplifierDescription& description) {
  std::vector<std::uint8_t> d{kDeviceDescriptorLength, kTypeDevice};
  Put16(d, kUsb20);
  d.push_back(kVendorSpecificClass);
  d.push_back(0);  // subclass
  d.push_back(0);  // protocol
  d.push_back(kControlPacketBytes);
  Put16(d, description.vendorId);
  Put16(d, description.productId);
  Put16(d, kDeviceRelease);
  d.push_back(kManufacturerStringIndex);
  d.push_back(kProductStringIndex);
  d.push_back(kSerialStringIndex);
  d.push_back(1);  // configurations
  return d;
}

std::vector<std::uint8_t> ConfigurationDescriptorBytes(const AmplifierDescription& description) {
  const std::uint16_t packet = description.highSpeed ? kHighSpeedBulkPacket : kFullSpeedBulkPacket;
  const auto endpointCount = static_cast<std::uint8_t>(std::size(kEndpoints));
  const auto total = static_cast<std::uint16_t>(kConfigurationLength + kInterfaceLength +
                                                endpointCount * kEndpointLength);
  std::vector<std::uint8_t> d{kConfigurationLength, kTypeConfiguration};
  Put16(d, total);
  d.push_back(1);  // interfaces
  d.push_back(1);  // configuration value
  d.push_back(0);  // no string
  d.push_back(kAttributesBusPowered);
  d.push_back(kMaxPowerTwoMilliampUnits);
  d.insert(d.end(), {kInterfaceLength, kTypeInterface, 0, 0, endpointCount, kVendorSpecificClass,
                     0, 0, 0});
  for (const EndpointLayout& endpoint : kEndpoints) {
    d.insert(d.end(), {kEndpointLength, kTypeEndpoint, endpoint.address, kBulk});
    Put16(d, packet);
    d.push_back(0);  // interval
  }
  return d;
}

std::vector<std::uint8_t> StringDescriptorBytes(const AmplifierDescription& description,
                                                std::uint8_t index) {
  std::string text;
  switch (index) {
    case 0: {
      std::vector<std::uint8_t> d{4, kTypeString};
      Put16(d, usb::kLanguageUsEnglish);
      return d;
    }
    case kManufacturerStringIndex: text = description.manufacturer; break;
    case kProductStringIndex: text = description.productName; break;
    case kSerialStringIndex: text = description.amplifierSerial; break;
    default: return {};
  }
  constexpr std::size_t kMaxChars = 126;  // a descriptor holds at most 255 bytes
  if (text.size() > kMaxChars) text.resize(kMaxChars);
  std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), kTypeString};
  for (char c : text) Put16(d, static_cast<std::uint8_t>(c));  // ASCII as UTF-16LE
  return d;
}

bool HasEndpoint(const AmplifierDescription& /*description*/, std::uint8_t address) {
  for (const EndpointLayout& endpoint : kEndpoints) {
    if (endpoint.address == address) return true;
  }
  return false;
}

}  // namespace torva::sim
