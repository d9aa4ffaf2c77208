#pragma once
// Sorts the frames missing from what torvactl took by their cause. Each frame carries 16 samples
// per plate, so consecutive frames' first sample counters differ by 16; a larger step is a gap.
// A gap right where the transfer call reported a full frame ring means the library overwrote
// frames that torvactl had not taken in time; any other gap is a frame that never completed,
// because an amplifier lost samples (its packets are then missing and the frame cannot align).
//
// Counters arrive as floats: exact up to 2^24 and rounded beyond it. The counter of the last
// frame is kept as an exact integer and each step is rounded to whole frames, so that rounding
// of the float counter does not show up as gaps.

namespace torvactl {

class FrameGaps {
 public:
  // `samplesPerFrame`: counter step from one frame to the next; `ringFrames`: how many completed
  // frames the library keeps for the caller.
  FrameGaps(int samplesPerFrame, int ringFrames)
      : samplesPerFrame_(samplesPerFrame), ringFrames_(ringFrames) {}

  // One frame taken: the counter of its first sample and what the transfer call returned for it
  // (the frames that were waiting, this one included).
  void Taken(double firstCounter, int waiting);

  // Frames the library overwrote before torvactl took them.
  long long NotTakenInTime() const { return notTakenInTime_; }
  // Frames that never completed.
  long long NeverCompleted() const { return neverCompleted_; }
  // Frames whose counter did not move on from the frame before (repeated, or started again).
  long long NotAdvancing() const { return notAdvancing_; }

 private:
  int samplesPerFrame_;
  int ringFrames_;
  bool started_ = false;
  long long lastCounter_ = 0;
  long long notTakenInTime_ = 0;
  long long neverCompleted_ = 0;
  long long notAdvancing_ = 0;
};

}  // namespace torvactl
