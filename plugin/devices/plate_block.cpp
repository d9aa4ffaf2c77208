#include "plugin/devices/plate_block.h"

#include "driver/layout/TorvaFrameLayout.h"

namespace Torva {
namespace {

constexpr int kFx = 0, kFy = 1, kFz = 2, kMx = 3, kMy = 4, kMz = 5, kCx = 6, kCy = 7, kCz = 8;

}  // namespace

void ConvertPlateBlock(const float* frame, int stride, int position, const OriginOffsets& origin,
                       double threshold, BlockOutput& out) {
  out.fill(0.0f);
  const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, stride};
  const float ox = origin[0];
  const float oy = origin[1];
  const float oz = origin[2];
  for (std::size_t j = 0; j < kBlockSamples; ++j) {
    const int row = static_cast<int>(j);
    float* sample = out.data() + j * kOutputValues;
    const float fx = frame[torva_frame_channel(layout, row, position, 0)];
    const float fy = frame[torva_frame_channel(layout, row, position, 1)];
    const float fz = frame[torva_frame_channel(layout, row, position, 2)];
    const float mx = frame[torva_frame_channel(layout, row, position, 3)];
    const float my = frame[torva_frame_channel(layout, row, position, 4)];
    const float mz = frame[torva_frame_channel(layout, row, position, 5)];
    // Not a number is not above the threshold either: the sample stays zeros.
    if (!(static_cast<double>(fz) > threshold)) continue;
    const float cx = ox - (fx * oz + my) / fz;
    const float cy = oy + (mx - fy * oz) / fz;
    // The moments about the plate origin instead of the sensor.
    const float tx = oz * fy - fz * oy;
    const float ty = fz * ox - fx * oz;
    const float tz = fx * oy - ox * fy;
    // Half turn about y: x and z change sign, y keeps it.
    sample[kFx] = -fx;
    sample[kFy] = fy;
    sample[kFz] = -fz;
    sample[kMx] = -(mx - tx);
    sample[kMy] = my - ty;
    sample[kMz] = -(mz - tz);
    sample[kCx] = -cx;
    sample[kCy] = cy;
    sample[kCz] = 0.0f;
  }
}

std::int64_t FirstCounter(const float* frame, int stride, int position) {
  const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, stride};
  const float counter = frame[torva_frame_counter(layout, 0, position)];
  // Counters are whole numbers below 2^24; anything a float cannot give as one reads as 0.
  constexpr float kLimit = 9.0e18f;
  if (!(counter > -kLimit && counter < kLimit)) return 0;
  return static_cast<std::int64_t>(counter);
}

}  // namespace Torva
