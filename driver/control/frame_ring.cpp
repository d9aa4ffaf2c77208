#include "driver/control/frame_ring.h"

#include "driver/control/library_locks.h"
#include "platform/diagnostic_log.h"

#include <cstdint>

namespace torva {
namespace {

std::size_t Offset(int index, int values) {
  return static_cast<std::size_t>(index) * static_cast<std::size_t>(values);
}

// Truncation toward zero, defined for every float: NaN gives 0 and values beyond the 32-bit
// range give its nearest end.
std::int32_t TruncateToInt32(float value) {
  if (!(value == value)) return 0;
  if (value >= 2147483648.0f) return INT32_MAX;
  if (value <= -2147483648.0f) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

}  // namespace

void FrameRing::Reset(int values) {
  if (values != values_) {
    // All three buffers are allocated before any is replaced: when an allocation fails, the ring
    // is left as it was.
    const std::size_t total = Offset(kRingEntries, values);
    std::vector<float> floats(total, 0.0f);
    std::vector<std::int32_t> longs(total, 0);
    std::vector<std::int16_t> shorts(total, 0);
    floats_.swap(floats);
    longs_.swap(longs);
    shorts_.swap(shorts);
    values_ = values;
  }
  platform::CriticalSectionLock lock(FrameCountLock());
  writeIndex_ = 0;
  readIndex_ = 0;
  available_ = 0;
  overruns_ = 0;
}

void FrameRing::Release() {
  Reset(0);
  floats_ = {};
  longs_ = {};
  shorts_ = {};
}

bool FrameRing::MakeRoomForWrite() {
  platform::CriticalSectionLock lock(FrameCountLock());
  if (available_ < kRingEntries) return false;
  readIndex_ = (readIndex_ + 1) % kRingEntries;
  --available_;
  const int overruns = ++overruns_;
  TORVA_LOG_OCCURRENCE(kWarning, overruns,
                       "frame ring full: the oldest frame was overwritten (%d this run)", overruns);
  return true;
}

void FrameRing::DropWaiting() {
  platform::CriticalSectionLock lock(FrameCountLock());
  readIndex_ = writeIndex_;
  available_ = 0;
}

int FrameRing::CompleteWrite() {
  const int completed = writeIndex_;
  {
    platform::CriticalSectionLock lock(FrameCountLock());
    ++available_;
  }
  writeIndex_ = (writeIndex_ + 1) % kRingEntries;
  return completed;
}

int FrameRing::TakeIndex(int& waiting) {
  platform::CriticalSectionLock lock(FrameCountLock());
  waiting = values_ == 0 ? 0 : available_;
  if (waiting <= 0) return -1;
  const int index = readIndex_;
  readIndex_ = (readIndex_ + 1) % kRingEntries;
  --available_;
  return index;
}

int FrameRing::TakeFloats(const float*& out) {
  int waiting = 0;
  const int index = TakeIndex(waiting);
  if (index < 0) return 0;
  out = Floats(index);
  return waiting;
}

int FrameRing::TakeLongs(const std::int32_t*& out) {
  int waiting = 0;
  const int index = TakeIndex(waiting);
  if (index < 0) return 0;
  const float* source = Floats(index);
  std::int32_t* target = longs_.data() + Offset(index, values_);
  for (int i = 0; i < values_; ++i) target[i] = TruncateToInt32(source[i]);
  out = target;
  return 1;
}

int FrameRing::TakeShorts(const std::int16_t*& out) {
  int waiting = 0;
  const int index = TakeIndex(waiting);
  if (index < 0) return 0;
  const float* source = Floats(index);
  std::int16_t* target = shorts_.data() + Offset(index, values_);
  for (int i = 0; i < values_; ++i) {
    // Truncate to 32 bits first, then keep the low 16 bits (values outside the 16-bit range wrap).
    const auto whole = static_cast<std::uint32_t>(TruncateToInt32(source[i]));
    target[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(whole & 0xFFFFu));
  }
  out = target;
  return 1;
}

int FrameRing::Available() const {
  platform::CriticalSectionLock lock(FrameCountLock());
  return available_;
}

}  // namespace torva
