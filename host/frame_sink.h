#pragma once
// Where the host puts the frames that devices push: one block per accepted PushFrames, after the
// device host has checked it.
//
// Threads: Deliver runs on the plugin's thread that pushed the block, often while the plugin holds
// its device locks, so a sink must not call into any device and must not wait for another host
// thread; it may take a short lock of its own.

#include <cstdint>
#include <string>
#include <vector>

namespace torva::host {

// One pushed block: `samples` samples starting at frame `firstFrame`, each sample holding the
// components of the listed outputs in the order listed.
struct FrameBlock {
  std::string device;
  std::int64_t firstFrame = 0;
  std::uint32_t samples = 0;
  std::vector<std::uint32_t> outputs;
  std::vector<float> values;
};

// A copy of a pushed block; null arrays count as empty.
inline FrameBlock CopyBlock(const std::string& device, std::int64_t firstFrame,
                            std::uint32_t samples, const std::uint32_t* outputs,
                            std::uint32_t outputCount, const float* values,
                            std::uint32_t valueCount) {
  FrameBlock block;
  block.device = device;
  block.firstFrame = firstFrame;
  block.samples = samples;
  if (outputs != nullptr) block.outputs.assign(outputs, outputs + outputCount);
  if (values != nullptr) block.values.assign(values, values + valueCount);
  return block;
}

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void Deliver(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
                       const std::uint32_t* outputs, std::uint32_t outputCount, const float* values,
                       std::uint32_t valueCount) = 0;
};

}  // namespace torva::host
