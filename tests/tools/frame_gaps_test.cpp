// Sorting the gaps in the frames torvactl took: overwritten before they were taken, or never
// completed.

#include <gtest/gtest.h>

#include <vector>

#include "tools/torvactl/frame_gaps.h"

namespace torvactl {
namespace {

constexpr int kSamplesPerFrame = 16;
constexpr int kRingFrames = 625;

struct Take {
  double counter;
  int waiting;
};

TEST(FrameGaps, AGapIsOverwrittenOnlyWhereTheRingWasFull) {
  struct Case {
    const char* name;
    std::vector<Take> takes;
    long long notTakenInTime;
    long long neverCompleted;
    long long notAdvancing;
  };
  const Case cases[] = {
      {"consecutive", {{1, 3}, {17, 2}, {33, 1}, {49, 625}}, 0, 0, 0},
      {"two overwritten at a full ring", {{1, 1}, {17, 625}, {65, 625}, {81, 624}}, 2, 0, 0},
      {"one never completed", {{1, 1}, {33, 1}, {49, 1}}, 0, 1, 0},
      {"both", {{1, 1}, {33, 2}, {49, 1}, {113, 625}}, 3, 1, 0},
      {"counters start again", {{1, 1}, {17, 1}, {1, 1}, {17, 1}}, 0, 0, 1},
      {"a frame taken twice", {{1, 1}, {17, 1}, {17, 1}, {33, 1}}, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameGaps gaps(kSamplesPerFrame, kRingFrames);
    for (const Take& take : c.takes) gaps.Taken(take.counter, take.waiting);
    EXPECT_EQ(gaps.NotTakenInTime(), c.notTakenInTime);
    EXPECT_EQ(gaps.NeverCompleted(), c.neverCompleted);
    EXPECT_EQ(gaps.NotAdvancing(), c.notAdvancing);
  }
}

TEST(FrameGaps, FloatRoundingOfLargeCountersIsNoGap) {
  // Past 2^24 a float holds only every second (then fourth, eighth) counter value.
  FrameGaps gaps(kSamplesPerFrame, kRingFrames);
  long long counter = (1LL << 26) + 1;
  for (int frame = 0; frame < 100000; ++frame, counter += kSamplesPerFrame)
    gaps.Taken(static_cast<double>(static_cast<float>(counter)), 1);
  EXPECT_EQ(gaps.NotTakenInTime(), 0);
  EXPECT_EQ(gaps.NeverCompleted(), 0);
  gaps.Taken(static_cast<double>(static_cast<float>(counter + kSamplesPerFrame)), kRingFrames);
  EXPECT_EQ(gaps.NotTakenInTime(), 1);
}

}  // namespace
}  // namespace torvactl
