#pragma once
// Decoding of the standard USB descriptors a device returns. The input comes from the device, so
// every length is checked: a short, truncated or self-contradicting descriptor is refused or cut
// off, never read past.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torva::usb {

#pragma pack(push, 1)
struct DeviceDescriptor {
  std::uint8_t length;
  std::uint8_t descriptorType;
  std::uint16_t usbRelease;        // bcdUSB
  std::uint8_t deviceClass;
  std::uint8_t deviceSubclass;
  std::uint8_t deviceProtocol;
  std::uint8_t maxPacketSize0;     // endpoint-0 packet size
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint16_t deviceRelease;     // bcdDevice
  std::uint8_t manufacturerIndex;
  std::uint8_t productIndex;
  std::uint8_t serialNumberIndex;
  std::uint8_t configurationCount;
};
#pragma pack(pop)
static_assert(sizeof(DeviceDescriptor) == 18);
static_assert(offsetof(DeviceDescriptor, vendorId) == 8);
static_assert(offsetof(DeviceDescriptor, configurationCount) == 17);

struct EndpointDescriptor {
  std::uint8_t length = 0;
  std::uint8_t descriptorType = 0;
  std::uint8_t address = 0;
  std::uint8_t attributes = 0;
  std::uint16_t maxPacketSize = 0;  // wMaxPacketSize as sent (bits 11..12: extra packets)
  std::uint8_t interval = 0;
};

struct InterfaceDescriptor {
  std::uint8_t number = 0;
  std::uint8_t alternateSetting = 0;
  std::uint8_t interfaceClass = 0;
  std::uint8_t interfaceSubclass = 0;
  std::uint8_t interfaceProtocol = 0;
  std::vector<EndpointDescriptor> endpoints;
};

struct ConfigurationDescriptor {
  std::uint16_t totalLength = 0;
  std::uint8_t value = 0;
  std::uint8_t attributes = 0;
  std::uint8_t maxPower = 0;
  std::vector<InterfaceDescriptor> interfaces;  // one entry per interface and alternate setting
};

std::optional<DeviceDescriptor> ParseDeviceDescriptor(const std::uint8_t* data,
                                                      std::size_t length);
// wTotalLength of a configuration descriptor header; empty when it is not one.
std::optional<std::uint16_t> ConfigurationTotalLength(const std::uint8_t* data,
                                                      std::size_t length);
// The whole configuration: at most `maxInterfaces` interfaces with at most `maxEndpoints`
// endpoints each are kept. Empty when the header is not a configuration descriptor.
std::optional<ConfigurationDescriptor> ParseConfigurationDescriptor(const std::uint8_t* data,
                                                                    std::size_t length,
                                                                    std::size_t maxInterfaces,
                                                                    std::size_t maxEndpoints);
// The UTF-16 text of a string descriptor (empty when malformed).
std::u16string ParseStringDescriptor(const std::uint8_t* data, std::size_t length);
// The language identifiers of string descriptor 0.
std::vector<std::uint16_t> ParseLanguageTable(const std::uint8_t* data, std::size_t length);

}  // namespace torva::usb
