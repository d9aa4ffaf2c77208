#pragma once
// The standard USB descriptors an emulated device reports: device, configuration (one interface
// with the amplifier's endpoints) and strings.

#include <cstdint>
#include <vector>

#include "sim/amplifier_description.h"

namespace torva::sim {

// Endpoints of interface 0: a bulk OUT, the streaming bulk IN (kDataEndpoint) and a second bulk
// IN that carries no traffic.
inline constexpr std::uint8_t kCommandOutEndpoint = 0x02;
inline constexpr std::uint8_t kSpareInEndpoint = 0x86;
inline constexpr std::uint8_t kManufacturerStringIndex = 1;
inline constexpr std::uint8_t kProductStringIndex = 2;
inline constexpr std::uint8_t kSerialStringIndex = 3;

std::vector<std::uint8_t> DeviceDescriptorBytes(const AmplifierDescription& description);
// The configuration descriptor with its interface and endpoint descriptors (index 0 only).
std::vector<std::uint8_t> ConfigurationDescriptorBytes(const AmplifierDescription& description);
// String descriptor `index` (0: the language table); empty when there is no such string.
std::vector<std::uint8_t> StringDescriptorBytes(const AmplifierDescription& description,
                                                std::uint8_t index);
// Whether interface 0 has the endpoint, and whether it is an IN endpoint with traffic.
bool HasEndpoint(const AmplifierDescription& description, std::uint8_t address);

}  // namespace torva::sim
