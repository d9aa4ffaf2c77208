#include "tools/torvactl/frame_gaps.h"

#include <cmath>

namespace torvactl {

void FrameGaps::Taken(double firstCounter, int waiting) {
  const long long steps =
      started_ ? std::llround((firstCounter - static_cast<double>(lastCounter_)) / samplesPerFrame_)
               : 0;
  if (started_ && steps < 1) ++notAdvancing_;
  started_ = true;
  if (steps < 1) {
    // The first frame, or counters that started again: follow them from here.
    lastCounter_ = std::llround(firstCounter);
    return;
  }
  lastCounter_ += steps * samplesPerFrame_;
  const long long missing = steps - 1;
  if (waiting >= ringFrames_) {
    notTakenInTime_ += missing;
  } else {
    neverCompleted_ += missing;
  }
}

}  // namespace torvactl
