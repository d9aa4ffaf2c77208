#include "host/recording_frame_sink.h"

#include <utility>

namespace torva::host {

void RecordingFrameSink::Deliver(const std::string& device, std::int64_t firstFrame,
                                 std::uint32_t samples, const std::uint32_t* outputs,
                                 std::uint32_t outputCount, const float* values,
                                 std::uint32_t valueCount) {
  FrameBlock block =
      CopyBlock(device, firstFrame, samples, outputs, outputCount, values, valueCount);
  std::lock_guard<std::mutex> lock(mutex_);
  blocks_.push_back(std::move(block));
}

std::vector<FrameBlock> RecordingFrameSink::Blocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_;
}

std::size_t RecordingFrameSink::BlockCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_.size();
}

}  // namespace torva::host
