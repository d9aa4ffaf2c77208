#pragma once
// One sample of a plate as the host receives it: force (N), moment (N·m) and centre of pressure
// (m), three components each, in the order of the plate's outputs "Force", "Moment", "CoP".

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/frame_sink.h"

namespace torva::host {

inline constexpr std::size_t kOutputsPerPlate = 3;      // Force, Moment, CoP
inline constexpr std::size_t kComponentsPerOutput = 3;  // x, y, z
inline constexpr std::size_t kValuesPerSample = kOutputsPerPlate * kComponentsPerOutput;
inline constexpr std::size_t kFzIndex = 2;

using PlateSample = std::array<float, kValuesPerSample>;

// Sample `sample` of the block, its values placed by output identifier; nothing when the block
// holds no such sample or lists an output other than the three (each of three components).
std::optional<PlateSample> SampleOf(const FrameBlock& block, std::uint32_t sample);

}  // namespace torva::host
