#include "host/plate_sample.h"

namespace torva::host {

std::optional<PlateSample> SampleOf(const FrameBlock& block, std::uint32_t sample) {
  const std::size_t perSample = block.outputs.size() * kComponentsPerOutput;
  if (sample >= block.samples || perSample == 0 ||
      block.values.size() < (static_cast<std::size_t>(sample) + 1) * perSample) {
    return std::nullopt;
  }
  PlateSample values{};
  const float* source = block.values.data() + sample * perSample;
  for (std::size_t listed = 0; listed < block.outputs.size(); ++listed) {
    const std::uint32_t output = block.outputs[listed];
    if (output >= kOutputsPerPlate) return std::nullopt;
    for (std::size_t component = 0; component < kComponentsPerOutput; ++component) {
      values[output * kComponentsPerOutput + component] =
          source[listed * kComponentsPerOutput + component];
    }
  }
  return values;
}

}  // namespace torva::host
