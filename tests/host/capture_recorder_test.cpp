// The recorder: records for its length from the first block, ends as stalled when blocks stop or
// never start, and waits for the trigger for the capture's length in hardware-trigger mode. A
// feeder thread pushes blocks as the plugin's worker would; nothing waits on a guess.

#include "host/capture_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "host/exit_status.h"
#include "host/plate_sample.h"

namespace torva::host {
namespace {

constexpr std::uint32_t kSamplesPerBlock = 16;
constexpr std::chrono::milliseconds kBlockPeriod{4};

class CaptureRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override { sink_.SetRecording(true); }
  void TearDown() override {
    stop_ = true;
    if (feeder_.joinable()) feeder_.join();
  }
  // Pushes `blocks` blocks for plate "A" one period apart (all of them when blocks is 0).
  void Feed(int blocks) {
    feeder_ = std::thread([this, blocks] {
      const std::uint32_t outputs[] = {0, 1, 2};
      const std::vector<float> values(kSamplesPerBlock * kValuesPerSample, 1.0f);
      for (int block = 0; !stop_ && (blocks == 0 || block < blocks); ++block) {
        sink_.Deliver("A", block * kSamplesPerBlock, kSamplesPerBlock, outputs, 3, values.data(),
                      static_cast<std::uint32_t>(values.size()));
        std::this_thread::sleep_for(kBlockPeriod);
      }
    });
  }

  CaptureFrameSink sink_;
  FrameRows rows_{{"A"}};
  CaptureSummary summary_{{"A"}};
  std::atomic<bool> stop_{false};
  std::thread feeder_;
};

TEST_F(CaptureRecorderTest, RecordsForItsLengthFromTheFirstBlock) {
  // The clock is read before the first block can arrive; the recording runs from that block on.
  const auto started = std::chrono::steady_clock::now();
  Feed(0);
  const RecordingOutcome outcome = Record(sink_, rows_, summary_, {0.3, 2.0, false});
  EXPECT_EQ(outcome.status, kExitSuccess);
  EXPECT_EQ(outcome.message, "");
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
  EXPECT_GT(summary_.Plates()[0].samples, 0u);
  EXPECT_EQ(summary_.Plates()[0].MissingFrames(), 0u);
}

TEST_F(CaptureRecorderTest, BlocksThatStopEndTheCaptureAsStalled) {
  Feed(5);
  const RecordingOutcome outcome = Record(sink_, rows_, summary_, {30, 0.2, false});
  EXPECT_EQ(outcome.status, kExitStalled);
  EXPECT_EQ(outcome.message,
            "no data from the plates for 0.2 s: acquisition has stalled (an amplifier may have "
            "been disconnected)");
  // What arrived was kept.
  EXPECT_EQ(summary_.Plates()[0].samples, 5 * kSamplesPerBlock);
}

TEST_F(CaptureRecorderTest, NoFirstBlockWithinItsLimitIsAStall) {
  RecordingLimits limits{30, 2, false};
  limits.firstBlockLimit = std::chrono::milliseconds(100);
  const RecordingOutcome outcome = Record(sink_, rows_, summary_, limits);
  EXPECT_EQ(outcome.status, kExitStalled);
  EXPECT_EQ(outcome.message.rfind("no data from the plates for 0.1 s", 0), 0u) << outcome.message;
}

TEST_F(CaptureRecorderTest, NoTriggerWithinTheCaptureLengthIsReportedAsSuch) {
  const RecordingOutcome outcome = Record(sink_, rows_, summary_, {0.2, 2, true});
  EXPECT_EQ(outcome.status, kExitStalled);
  EXPECT_EQ(outcome.message, "no hardware trigger seen");
}

// Each frame reaches the sink plate by plate, here B's block always 30 ms after A's: wherever
// the recording's time runs out, it ends on a whole row, B's cells filled too; and an end asked
// for by the caller (a signal) is taken to a frame boundary the same way.
TEST_F(CaptureRecorderTest, TheRecordingEndsOnAWholeRowWhenPlatesDeliverOneAfterTheOther) {
  FrameRows rows({"A", "B"});
  CaptureSummary summary({"A", "B"});
  feeder_ = std::thread([this] {
    const std::uint32_t outputs[] = {0, 1, 2};
    const std::vector<float> values(kSamplesPerBlock * kValuesPerSample, 1.0f);
    for (std::int64_t block = 0; !stop_; ++block) {
      for (const char* plate : {"A", "B"}) {
        sink_.Deliver(plate, block * kSamplesPerBlock, kSamplesPerBlock, outputs, 3,
                      values.data(), static_cast<std::uint32_t>(values.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
      }
    }
  });
  RecordingLimits limits{0.2, 2.0, false};
  EXPECT_EQ(Record(sink_, rows, summary, limits).status, kExitSuccess);
  EXPECT_TRUE(rows.Level());
  limits.endNow = [] { return std::optional<int>(130); };
  EXPECT_EQ(Record(sink_, rows, summary, limits).status, 130);
  EXPECT_TRUE(rows.Level());
  EXPECT_EQ(summary.Plates()[0].samples, summary.Plates()[1].samples);
}

TEST_F(CaptureRecorderTest, BlocksPushedWhileNotRecordingAreDropped) {
  sink_.SetRecording(false);
  Feed(3);
  feeder_.join();
  EXPECT_FALSE(sink_.FirstBlockTime());
  EXPECT_TRUE(sink_.Take(std::chrono::steady_clock::now()).empty());
}

}  // namespace
}  // namespace torva::host
