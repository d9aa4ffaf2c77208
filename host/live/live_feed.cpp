#include "host/live/live_feed.h"

namespace torva::host::live {

void LiveFeed::Deliver(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
                       const std::uint32_t* outputs, std::uint32_t outputCount,
                       const float* values, std::uint32_t valueCount) {
  FrameBlock block =
      CopyBlock(device, firstFrame, samples, outputs, outputCount, values, valueCount);
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    picture_.Add(block, now);
    if (!trialOpen_) return;
    waiting_.push_back(std::move(block));
  }
  arrived_.notify_all();
}

void LiveFeed::SetPlates(std::vector<std::string> plates) {
  std::lock_guard<std::mutex> lock(mutex_);
  picture_ = LivePicture(std::move(plates));
  trialOpen_ = false;
}

LiveView LiveFeed::TakeView() {
  std::lock_guard<std::mutex> lock(mutex_);
  return picture_.Take();
}

std::optional<std::int64_t> LiveFeed::BeginTrial() {
  std::lock_guard<std::mutex> lock(mutex_);
  trialOpen_ = true;
  const std::optional<std::int64_t> newest = picture_.NewestFrame();
  if (!newest) return std::nullopt;
  return *newest + 1;
}

std::optional<std::int64_t> LiveFeed::EndTrial() {
  std::lock_guard<std::mutex> lock(mutex_);
  return picture_.NewestFrame();
}

bool LiveFeed::Reached(std::int64_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::optional<std::int64_t> shown = picture_.ShownFrame();
  return shown && *shown >= frame;
}

void LiveFeed::CloseTrial() {
  std::lock_guard<std::mutex> lock(mutex_);
  trialOpen_ = false;
}

std::vector<FrameBlock> LiveFeed::TakeTrialBlocks(Clock::time_point until) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_until(lock, until, [&] { return !waiting_.empty(); });
  std::vector<FrameBlock> blocks;
  blocks.swap(waiting_);
  return blocks;
}

}  // namespace torva::host::live
