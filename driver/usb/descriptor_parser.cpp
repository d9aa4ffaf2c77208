#include "driver/usb/descriptor_parser.h"

#include <cstring>

#include "driver/usb/usb_types.h"

namespace torva::usb {
namespace {

constexpr std::size_t kInterfaceDescriptorBytes = 9;
constexpr std::size_t kEndpointDescriptorBytes = 7;
constexpr std::size_t kDescriptorHeaderBytes = 2;

std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::optional<DeviceDescriptor> ParseDeviceDescriptor(const std::uint8_t* data,
                                                      std::size_t length) {
  if (data == nullptr || length < sizeof(DeviceDescriptor)) return std::nullopt;
  DeviceDescriptor descriptor{};
  std::memcpy(&descriptor, data, sizeof descriptor);
  if (descriptor.length < sizeof(DeviceDescriptor) ||
      descriptor.descriptorType != kDescriptorTypeDevice) {
    return std::nullopt;
  }
  return descriptor;
}

std::optional<std::uint16_t> ConfigurationTotalLength(const std::uint8_t* data,
                                                      std::size_t length) {
  if (data == nullptr || length < kConfigurationHeaderBytes ||
      data[1] != kDescriptorTypeConfiguration || data[0] < kConfigurationHeaderBytes) {
    return std::nullopt;
  }
  const std::uint16_t total = Read16(data + 2);
  if (total < kConfigurationHeaderBytes) return std::nullopt;
  return total;
}

std::optional<ConfigurationDescriptor> ParseConfigurationDescriptor(const std::uint8_t* data,
                                                                    std::size_t length,
                                                                    std::size_t maxInterfaces,
                                                                    std::size_t maxEndpoints) {
  const auto total = ConfigurationTotalLength(data, length);
  if (!total) return std::nullopt;
  ConfigurationDescriptor configuration;
  configuration.totalLength = *total;
  configuration.value = data[5];
  configuration.attributes = data[7];
  configuration.maxPower = data[8];
  // Walk the descriptors that follow the header, within what both the header and the buffer say.
  const std::size_t end = *total < length ? *total : length;
  std::size_t at = data[0];
  InterfaceDescriptor* current = nullptr;
  while (at + kDescriptorHeaderBytes <= end) {
    const std::size_t size = data[at];
    const std::uint8_t type = data[at + 1];
    if (size < kDescriptorHeaderBytes || at + size > end) break;  // malformed: stop here
    const std::uint8_t* d = data + at;
    if (type == kDescriptorTypeInterface && size >= kInterfaceDescriptorBytes) {
      if (configuration.interfaces.size() < maxInterfaces) {
        InterfaceDescriptor interface;
        interface.number = d[2];
        interface.alternateSetting = d[3];
        interface.interfaceClass = d[5];
        interface.interfaceSubclass = d[6];
        interface.interfaceProtocol = d[7];
        configuration.interfaces.push_back(interface);
        current = &configuration.interfaces.back();
      } else {
        current = nullptr;
      }
    } else if (type == kDescriptorTypeEndpoint && size >= kEndpointDescriptorBytes &&
               current != nullptr && current->endpoints.size() < maxEndpoints) {
      EndpointDescriptor endpoint;
      endpoint.length = d[0];
      endpoint.descriptorType = d[1];
      endpoint.address = d[2];
      endpoint.attributes = d[3];
      endpoint.maxPacketSize = Read16(d + 4);
      endpoint.interval = d[6];
      current->endpoints.push_back(endpoint);
    }
    at += size;
  }
  return configuration;
}

std::u16string ParseStringDescriptor(const std::uint8_t* data, std::size_t length) {
  std::u16string text;
  if (data == nullptr || length < kDescriptorHeaderBytes || data[1] != kDescriptorTypeString) {
    return text;
  }
  const std::size_t end = data[0] < length ? data[0] : length;
  for (std::size_t at = kDescriptorHeaderBytes; at + 1 < end; at += 2) {
    text.push_back(static_cast<char16_t>(Read16(data + at)));
  }
  return text;
}

std::vector<std::uint16_t> ParseLanguageTable(const std::uint8_t* data, std::size_t length) {
  std::vector<std::uint16_t> languages;
  for (char16_t id : ParseStringDescriptor(data, length)) {
    languages.push_back(static_cast<std::uint16_t>(id));
  }
  return languages;
}

}  // namespace torva::usb
