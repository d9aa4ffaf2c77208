// CRC-16/ARC and the sizes of the calibration stream.

#include <gtest/gtest.h>

#include <vector>

#include "driver/device/calibration_protocol.h"
#include "driver/device/crc16_arc.h"

namespace torva {
namespace {

TEST(Crc16Arc, CheckValueAndIncrementalUse) {
  const char digits[] = "123456789";
  EXPECT_EQ(Crc16Arc(digits, 9), 0xBB3D);
  EXPECT_EQ(Crc16Arc(digits + 4, 5, Crc16Arc(digits, 4)), 0xBB3D);
  EXPECT_EQ(Crc16Arc(digits, 0), 0);
  const std::uint8_t one = 0x01;
  EXPECT_EQ(Crc16Arc(&one, 1), 0xC0C1);
}

TEST(Crc16Arc, AStreamFollowedByItsCrcLowByteFirstChecksToZero) {
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < 3000; ++i) stream.push_back(static_cast<std::uint8_t>(i * 37 + 11));
  const std::uint16_t crc = Crc16Arc(stream.data(), stream.size());
  stream.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  stream.push_back(static_cast<std::uint8_t>(crc >> 8));
  EXPECT_EQ(Crc16Arc(stream.data(), stream.size()), 0);
}

TEST(CalibrationProtocol, BlockCountsOfTheStream) {
  EXPECT_EQ(CalibrationBlockCount(0), 1);      // the CRC alone
  EXPECT_EQ(CalibrationBlockCount(1022), 1);
  EXPECT_EQ(CalibrationBlockCount(1023), 2);
  EXPECT_EQ(CalibrationBlockCount(2046), 2);   // 2048-byte stream
  EXPECT_EQ(CalibrationBlockCount(2047), 3);   // the third block holds the CRC's high byte
  EXPECT_EQ(CalibrationBlockCount(-5), 1);
}

}  // namespace
}  // namespace torva
