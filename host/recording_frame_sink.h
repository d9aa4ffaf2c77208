#pragma once
// A frame sink that keeps a copy of every block it is given, in order (tests read them back).
//
// Threads: any; one lock guards the blocks.

#include <cstddef>
#include <mutex>
#include <vector>

#include "host/frame_sink.h"

namespace torva::host {

class RecordingFrameSink final : public FrameSink {
 public:
  void Deliver(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
               const std::uint32_t* outputs, std::uint32_t outputCount, const float* values,
               std::uint32_t valueCount) override;

  std::vector<FrameBlock> Blocks() const;
  std::size_t BlockCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<FrameBlock> blocks_;
};

}  // namespace torva::host
