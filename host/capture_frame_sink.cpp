#include "host/capture_frame_sink.h"

namespace torva::host {

void CaptureFrameSink::Deliver(const std::string& device, std::int64_t firstFrame,
                               std::uint32_t samples, const std::uint32_t* outputs,
                               std::uint32_t outputCount, const float* values,
                               std::uint32_t valueCount) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!recording_) return;
    waiting_.push_back(
        CopyBlock(device, firstFrame, samples, outputs, outputCount, values, valueCount));
    const auto now = Clock::now();
    if (!firstBlock_) firstBlock_ = now;
    lastBlock_ = now;
  }
  arrived_.notify_all();
}

void CaptureFrameSink::SetRecording(bool recording) {
  std::lock_guard<std::mutex> lock(mutex_);
  recording_ = recording;
}

std::vector<FrameBlock> CaptureFrameSink::Take(Clock::time_point until) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_until(lock, until, [&] { return !waiting_.empty(); });
  std::vector<FrameBlock> blocks;
  blocks.swap(waiting_);
  return blocks;
}

std::optional<CaptureFrameSink::Clock::time_point> CaptureFrameSink::FirstBlockTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return firstBlock_;
}

std::optional<CaptureFrameSink::Clock::time_point> CaptureFrameSink::LastBlockTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastBlock_;
}

}  // namespace torva::host
