#pragma once
// The frame sink of a capture run: while recording, it keeps every pushed block until the
// program's main thread takes them (to write the CSV and the summary), and wakes that thread.
// Blocks pushed while not recording are dropped. It notes when the last block arrived, which the
// stall check reads.
//
// Threads: Deliver comes from the plugin's threads and takes only this sink's lock for a copy;
// the other operations come from the main thread. Life cycle: outlives the device instances.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "host/frame_sink.h"

namespace torva::host {

class CaptureFrameSink final : public FrameSink {
 public:
  using Clock = std::chrono::steady_clock;

  void Deliver(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
               const std::uint32_t* outputs, std::uint32_t outputCount, const float* values,
               std::uint32_t valueCount) override;

  // From now on blocks are kept (true) or dropped (false).
  void SetRecording(bool recording);
  // Waits until a block is waiting or `until` has passed, then hands over the waiting blocks.
  std::vector<FrameBlock> Take(Clock::time_point until);
  // When the first and the last recorded block arrived; nothing before the first.
  std::optional<Clock::time_point> FirstBlockTime() const;
  std::optional<Clock::time_point> LastBlockTime() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  bool recording_ = false;
  std::vector<FrameBlock> waiting_;
  std::optional<Clock::time_point> firstBlock_;
  std::optional<Clock::time_point> lastBlock_;
};

}  // namespace torva::host
