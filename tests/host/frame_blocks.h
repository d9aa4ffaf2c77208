#pragma once
// Frame blocks for the host's tests: every sample's Fz is its frame number plus an offset, so a
// row in a file tells which frame it came from; the other values are their index in the sample.

#include <cstdint>
#include <string>

#include "host/frame_sink.h"
#include "host/plate_sample.h"

namespace torva::testing {

inline host::FrameBlock FzBlock(const std::string& device, std::int64_t firstFrame,
                          std::uint32_t samples, float fzOffset = 0) {
  host::FrameBlock block;
  block.device = device;
  block.firstFrame = firstFrame;
  block.samples = samples;
  block.outputs = {0, 1, 2};
  for (std::uint32_t sample = 0; sample < samples; ++sample) {
    for (std::size_t value = 0; value < host::kValuesPerSample; ++value) {
      block.values.push_back(value == host::kFzIndex ? static_cast<float>(firstFrame + sample) + fzOffset
                                               : static_cast<float>(value));
    }
  }
  return block;
}

}  // namespace torva::testing
