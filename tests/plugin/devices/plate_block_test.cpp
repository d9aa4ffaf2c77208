// A plate's samples as the host receives them: forces and moments about the plate origin, the
// centre of pressure, the half turn about y, and the threshold.

#include "plugin/devices/plate_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace Torva {
namespace {

// A format-1 frame of `stride` plates with one plate's channels set in every row.
std::vector<float> Frame(int stride, int position, const std::array<float, 6>& channels,
                         float counter = 1.0f) {
  std::vector<float> frame(static_cast<std::size_t>(16 * stride * 8), 0.0f);
  for (int row = 0; row < 16; ++row) {
    float* record = frame.data() + (row * stride + position) * 8;
    record[0] = counter + static_cast<float>(row);
    for (int c = 0; c < 6; ++c) record[1 + c] = channels[static_cast<std::size_t>(c)];
  }
  return frame;
}

TEST(PlateBlock, AVerticalLoadIsReportedAtItsPointAboutThePlateOriginHalfTurnedAboutY) {
  // 800 N straight down at (0.1, -0.05) m from the sensor, on a plate whose origin is offset by
  // (0.01, 0.02, -0.03) m: the sensor sees M = r x F = (py Fz, -px Fz, 0).
  const float fz = 800.0f, px = 0.1f, py = -0.05f;
  const OriginOffsets origin = {0.01f, 0.02f, -0.03f};
  const auto frame = Frame(3, 2, {0.0f, 0.0f, fz, py * fz, -px * fz, 0.0f});
  BlockOutput out;
  ConvertPlateBlock(frame.data(), 3, 2, origin, 20.0, out);
  for (std::size_t j = 0; j < kBlockSamples; ++j) {
    const float* s = out.data() + j * kOutputValues;
    EXPECT_FLOAT_EQ(s[0], 0.0f);
    EXPECT_FLOAT_EQ(s[2], -fz);                             // Fz turned
    EXPECT_NEAR(s[3], -fz * (py + origin[1]), 1e-3);         // Mx about the origin, turned
    EXPECT_NEAR(s[4], -fz * (px + origin[0]), 1e-3);         // My about the origin
    EXPECT_NEAR(s[5], 0.0f, 1e-4);
    EXPECT_NEAR(s[6], -(px + origin[0]), 1e-6);              // Cx turned
    EXPECT_NEAR(s[7], py + origin[1], 1e-6);                 // Cy
    EXPECT_EQ(s[8], 0.0f);                                   // Cz
  }
}

TEST(PlateBlock, OnlyAnFzAboveTheThresholdIsComputedAndZeroOffsetsGiveMomentsOverFz) {
  const OriginOffsets none = {0.0f, 0.0f, 0.0f};
  const struct {
    float fz;
    bool computed;
  } rows[] = {{20.0f, false}, {20.001f, true}, {-300.0f, false},
              {std::numeric_limits<float>::quiet_NaN(), false}};
  for (const auto& row : rows) {
    const auto frame = Frame(1, 0, {1.0f, 2.0f, row.fz, 3.0f, 4.0f, 5.0f});
    BlockOutput out;
    out.fill(7.0f);
    ConvertPlateBlock(frame.data(), 1, 0, none, 20.0, out);
    const float* s = out.data();
    if (!row.computed) {
      for (float value : out) EXPECT_EQ(value, 0.0f) << row.fz;
      continue;
    }
    EXPECT_FLOAT_EQ(s[6], 4.0f / row.fz);  // Cx = My / Fz
    EXPECT_FLOAT_EQ(s[7], 3.0f / row.fz);  // Cy = Mx / Fz
    EXPECT_FLOAT_EQ(s[0], -1.0f);
    EXPECT_FLOAT_EQ(s[1], 2.0f);
  }
}

TEST(PlateBlock, TheFirstCounterIsThePlatesOwnAndNonNumbersReadAsZero) {
  const auto frame = Frame(2, 1, {0, 0, 0, 0, 0, 0}, 4096.0f);
  EXPECT_EQ(FirstCounter(frame.data(), 2, 1), 4096);
  EXPECT_EQ(FirstCounter(frame.data(), 2, 0), 0);
  auto broken = frame;
  broken[8] = std::numeric_limits<float>::infinity();
  EXPECT_EQ(FirstCounter(broken.data(), 2, 1), 0);
}

}  // namespace
}  // namespace Torva
