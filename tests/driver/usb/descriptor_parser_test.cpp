// Decoding descriptors that come from a device: well-formed and hostile ones.

#include <gtest/gtest.h>

#include <vector>

#include "driver/usb/descriptor_parser.h"

namespace torva::usb {
namespace {

const std::vector<std::uint8_t> kConfiguration = {
    9, 2, 39, 0, 1, 1, 0, 0x80, 250,        // configuration, 39 bytes in all
    9, 4, 0, 0, 3, 0xFF, 0, 0, 0,           // interface 0, alternate 0, 3 endpoints
    7, 5, 0x02, 2, 0x00, 0x02, 0,           // bulk OUT 512
    7, 5, 0x82, 2, 0x00, 0x02, 0,           // bulk IN 512
    7, 5, 0x81, 1, 0x00, 0x14, 1};          // isochronous IN, 3 x 1024

TEST(DescriptorParser, ReadsConfigurationInterfacesAndEndpoints) {
  const auto configuration =
      ParseConfigurationDescriptor(kConfiguration.data(), kConfiguration.size(), 8, 16);
  ASSERT_TRUE(configuration);
  EXPECT_EQ(configuration->totalLength, 39);
  ASSERT_EQ(configuration->interfaces.size(), 1u);
  const auto& endpoints = configuration->interfaces[0].endpoints;
  ASSERT_EQ(endpoints.size(), 3u);
  EXPECT_EQ(endpoints[1].address, 0x82);
  EXPECT_EQ(endpoints[1].maxPacketSize, 512);
  EXPECT_EQ(endpoints[2].maxPacketSize, 0x1400);
}

TEST(DescriptorParser, StopsAtMalformedOrTruncatedDescriptors) {
  // Truncated buffer: the last endpoint is cut off and dropped.
  auto configuration = ParseConfigurationDescriptor(kConfiguration.data(), 35, 8, 16);
  ASSERT_TRUE(configuration);
  EXPECT_EQ(configuration->interfaces[0].endpoints.size(), 2u);
  // A zero-length descriptor would loop forever: the walk stops there.
  std::vector<std::uint8_t> zero = kConfiguration;
  zero[18] = 0;
  configuration = ParseConfigurationDescriptor(zero.data(), zero.size(), 8, 16);
  ASSERT_TRUE(configuration);
  EXPECT_TRUE(configuration->interfaces[0].endpoints.empty());
  // A descriptor claiming to run past the end is not read.
  std::vector<std::uint8_t> overlong = kConfiguration;
  overlong[32] = 200;
  configuration = ParseConfigurationDescriptor(overlong.data(), overlong.size(), 8, 16);
  ASSERT_TRUE(configuration);
  EXPECT_EQ(configuration->interfaces[0].endpoints.size(), 2u);
  // Limits on interfaces and endpoints are kept.
  configuration = ParseConfigurationDescriptor(kConfiguration.data(), kConfiguration.size(), 8, 1);
  EXPECT_EQ(configuration->interfaces[0].endpoints.size(), 1u);
  configuration = ParseConfigurationDescriptor(kConfiguration.data(), kConfiguration.size(), 0, 1);
  EXPECT_TRUE(configuration->interfaces.empty());
  // Not a configuration at all.
  EXPECT_FALSE(ParseConfigurationDescriptor(kConfiguration.data() + 9, 30, 8, 16));
  EXPECT_FALSE(ParseConfigurationDescriptor(kConfiguration.data(), 5, 8, 16));
  EXPECT_FALSE(ParseConfigurationDescriptor(nullptr, 0, 8, 16));
}

TEST(DescriptorParser, DeviceStringAndLanguageDescriptors) {
  const std::uint8_t device[18] = {18, 1, 0, 2, 0xFF, 0, 0, 64, 0x6D, 0x1F, 0x2C, 0x01,
                                   0,  1, 1, 2, 3,    1};
  const auto parsed = ParseDeviceDescriptor(device, sizeof device);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->vendorId, 0x1F6D);
  EXPECT_EQ(parsed->productId, 0x012C);
  EXPECT_EQ(parsed->maxPacketSize0, 64);
  EXPECT_FALSE(ParseDeviceDescriptor(device, 17));
  const std::uint8_t notDevice[18] = {18, 2};
  EXPECT_FALSE(ParseDeviceDescriptor(notDevice, sizeof notDevice));

  const std::uint8_t text[] = {8, 3, 'T', 0, 'A', 0, '6', 0};
  EXPECT_EQ(ParseStringDescriptor(text, sizeof text), u"TA6");
  EXPECT_EQ(ParseStringDescriptor(text, 5), u"T");         // cut at the buffer
  const std::uint8_t lying[] = {200, 3, 'X', 0};
  EXPECT_EQ(ParseStringDescriptor(lying, sizeof lying), u"X");  // cut at the buffer
  const std::uint8_t languages[] = {6, 3, 0x07, 0x04, 0x09, 0x04};
  EXPECT_EQ(ParseLanguageTable(languages, sizeof languages),
            (std::vector<std::uint16_t>{0x0407, 0x0409}));
}

}  // namespace
}  // namespace torva::usb
