// libFuzzer target: any bytes as the descriptors a device returns (device, configuration, string,
// language table), with the first byte choosing how many interfaces and endpoints are kept. Every
// parser stays within the bytes, keeps no more than it is allowed, keeps only endpoint
// descriptors as endpoints and never reads a string past its own length byte. The same bytes as
// an emulated device's strings, and the emulated configuration cut where the input says, parse
// back to what the emulator put in.

#include <string>
#include <vector>

#include "driver/usb/descriptor_parser.h"
#include "driver/usb/usb_types.h"
#include "sim/usb_descriptors.h"
#include "tests/fuzz/fuzz_support.h"

using namespace torva;

namespace {

// The choice byte: low two bits one less than the interfaces kept, next two the endpoints.
constexpr unsigned kLimitMask = 0x3;
constexpr unsigned kEndpointLimitShift = 2;
constexpr unsigned kHighSpeedBit = 0x10;
// The configuration of an emulated amplifier: one interface.
constexpr std::size_t kEmulatedInterfaces = 1;
constexpr std::size_t kNoLimit = 255;

void CheckRaw(const std::uint8_t* data, std::size_t size, std::size_t maxInterfaces,
              std::size_t maxEndpoints) {
  const auto device = usb::ParseDeviceDescriptor(data, size);
  const bool isDevice = size >= sizeof(usb::DeviceDescriptor) &&
                        data[0] >= sizeof(usb::DeviceDescriptor) &&
                        data[1] == usb::kDescriptorTypeDevice;
  FUZZ_CHECK(device.has_value() == isDevice, "a device descriptor is taken exactly when whole");

  if (const auto configuration =
          usb::ParseConfigurationDescriptor(data, size, maxInterfaces, maxEndpoints)) {
    FUZZ_CHECK(size >= usb::kConfigurationHeaderBytes, "a configuration has its header");
    FUZZ_CHECK(configuration->interfaces.size() <= maxInterfaces, "interfaces within the limit");
    for (const auto& interface : configuration->interfaces) {
      FUZZ_CHECK(interface.endpoints.size() <= maxEndpoints, "endpoints within the limit");
      for (const auto& endpoint : interface.endpoints)
        FUZZ_CHECK(endpoint.length >= 7 && endpoint.descriptorType == usb::kDescriptorTypeEndpoint,
                   "only whole endpoint descriptors are endpoints");
    }
  }

  const std::u16string text = usb::ParseStringDescriptor(data, size);
  if (!text.empty()) {
    const std::size_t limit = data[0] < size ? data[0] : size;
    FUZZ_CHECK(data[1] == usb::kDescriptorTypeString && 2 + 2 * text.size() <= limit,
               "a string stays within its descriptor");
  }
  const std::vector<std::uint16_t> languages = usb::ParseLanguageTable(data, size);
  FUZZ_CHECK(languages.size() == text.size(), "the language table is the string's words");
}

void CheckEmulated(const std::uint8_t* data, std::size_t size, bool highSpeed) {
  sim::AmplifierDescription description;
  description.highSpeed = highSpeed;
  description.manufacturer.assign(reinterpret_cast<const char*>(data), size);
  const std::vector<std::uint8_t> bytes =
      sim::StringDescriptorBytes(description, sim::kManufacturerStringIndex);
  const std::u16string text = usb::ParseStringDescriptor(bytes.data(), bytes.size());
  FUZZ_CHECK(text.size() == (bytes.size() - 2) / 2, "the emulator's string reads whole");
  for (std::size_t i = 0; i < text.size(); ++i)
    FUZZ_CHECK(text[i] == static_cast<std::uint8_t>(data[i]), "the emulator's string reads back");

  const std::vector<std::uint8_t> full = sim::ConfigurationDescriptorBytes(description);
  const auto whole = usb::ParseConfigurationDescriptor(full.data(), full.size(), kNoLimit, kNoLimit);
  FUZZ_CHECK(whole && whole->interfaces.size() == kEmulatedInterfaces,
             "the emulator's configuration reads whole");
  for (const auto& endpoint : whole->interfaces.front().endpoints)
    FUZZ_CHECK(sim::HasEndpoint(description, endpoint.address), "every endpoint is the emulator's");

  // Cut short, as a device that answers with fewer bytes than asked for.
  const std::size_t cut = size == 0 ? full.size() : data[0] % (full.size() + 1);
  const std::vector<std::uint8_t> shortened(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
  if (const auto part =
          usb::ParseConfigurationDescriptor(shortened.data(), shortened.size(), kNoLimit, kNoLimit)) {
    FUZZ_CHECK(part->interfaces.size() <= kEmulatedInterfaces, "a cut configuration adds nothing");
    if (!part->interfaces.empty())
      FUZZ_CHECK(part->interfaces.front().endpoints.size() <=
                     whole->interfaces.front().endpoints.size(),
                 "a cut configuration keeps fewer endpoints");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned choice = data[0];
  const std::size_t maxInterfaces = (choice & kLimitMask) + 1;
  const std::size_t maxEndpoints = ((choice >> kEndpointLimitShift) & kLimitMask) + 1;
  // Exactly the bytes after the choice, so that ASan sees any read past them.
  const std::vector<std::uint8_t> bytes(data + 1, data + size);
  CheckRaw(bytes.data(), bytes.size(), maxInterfaces, maxEndpoints);
  CheckEmulated(bytes.data(), bytes.size(), (choice & kHighSpeedBit) != 0);
  return 0;
}
