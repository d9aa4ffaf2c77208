#pragma once
// One plate's samples of a driver frame, turned into what the host receives: per sample Fx, Fy,
// Fz, Mx, My, Mz and the centre of pressure Cx, Cy, Cz, with the moments moved from the sensor to
// the plate origin and everything half turned about the y axis (the host's convention). A sample
// whose Fz is not above the threshold is nine zeros.

#include <array>
#include <cstddef>
#include <cstdint>

namespace Torva {

// Samples (rows) of one driver frame, and values the host receives per sample.
inline constexpr std::size_t kBlockSamples = 16;
inline constexpr std::size_t kOutputValues = 9;
inline constexpr std::size_t kBlockOutputValues = kBlockSamples * kOutputValues;  // 144

using BlockOutput = std::array<float, kBlockOutputValues>;
// Sensor-to-plate-origin offsets in metres: x, y, z.
using OriginOffsets = std::array<float, 3>;

// Converts the record of position `position` in each row of a format-1 frame of `stride`
// positions into `out`.
void ConvertPlateBlock(const float* frame, int stride, int position, const OriginOffsets& origin,
                       double threshold, BlockOutput& out);

// The sample counter of the plate's first sample in the frame, truncated toward zero.
std::int64_t FirstCounter(const float* frame, int stride, int position);

}  // namespace Torva
