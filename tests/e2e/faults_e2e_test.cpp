// Faults on the real libusb path, with the shipped library: a halted data endpoint, a stop while
// a bulk read waits for data that never comes, and an amplifier unplugged while it streams.

#include <gtest/gtest.h>

#include <algorithm>

#include "driver/device/command_set.h"
#include "tests/e2e/shipped_library_fixture.h"

namespace torva::e2e {
namespace {

using testing::WaitUntil;

constexpr int kPlates = 2;
constexpr int kWarmUpFrames = 10;
constexpr int kFramesAfterFault = 30;
constexpr std::chrono::seconds kCollectLimit{30};
// Long enough that a test waiting for it would time out: the first packet of a run leaves this
// late, so a read waits for data that does not come.
constexpr std::chrono::seconds kFirstPacketNeverComes{60};
// How soon a stop must end a pending read and reach the amplifier.
constexpr std::chrono::seconds kStopLimit{2};
// How soon the library must shut down with an amplifier gone.
constexpr std::chrono::seconds kShutdownLimit{2};

using UsbfsFaults = ShippedLibraryOnUsbfs;

bool ClearedDataEndpointHalt(const sim::EmulatedAmplifier& amplifier) {
  const auto log = amplifier.WireLog();
  return std::any_of(log.begin(), log.end(), [](const sim::WireRecord& record) {
    return record.event == sim::WireEvent::kClearHalt && record.endpoint == kDataEndpoint &&
           record.accepted;
  });
}

TEST_F(UsbfsFaults, AHaltedDataEndpointIsClearedAndStreamingResumes) {
  BringUp(kPlates);
  StartStreaming();
  const auto before = Collect(kWarmUpFrames, kPlates, kCollectLimit);
  ASSERT_EQ(static_cast<int>(before.size()), kWarmUpFrames);
  const FrameCheck first = CheckFrames(before, kPlates);
  testbed_->Amplifier(0).ClearWireLog();

  testbed_->Amplifier(0).StallDataEndpoint();
  testbed_->Kick();
  // The device thread's read ends with a stall; it clears the halt (USBDEVFS_CLEAR_HALT) and reads
  // on. The amplifier held its packets meanwhile, so the counters run on without a gap.
  EXPECT_TRUE(WaitUntil([&] { return ClearedDataEndpointHalt(testbed_->Amplifier(0)); }));
  const auto after = Collect(kFramesAfterFault, kPlates, kCollectLimit);
  ASSERT_EQ(static_cast<int>(after.size()), kFramesAfterFault);
  const FrameCheck resumed = CheckFrames(after, kPlates, first.lastCounter);
  EXPECT_EQ(resumed.misaligned, 0);
  EXPECT_EQ(resumed.gaps, 0);
  EXPECT_EQ(fmDLLGetDroppedDataCount(), 0);
  fmBroadcastStop();
}

// Needs the stop to switch reading off and queue the Stop before its abort ends the read, and a
// Start sent again while that Stop waits not to switch reading back on: otherwise the device
// thread reads again at once and waits for the first packet, and the Stop goes out only then.
TEST_F(UsbfsFaults, TheStopsAbortEndsAPendingReadWithoutWaitingForData) {
  Plug(1);
  testbed_->Amplifier(0).SetFirstPacketDelay(kFirstPacketNeverComes);
  ASSERT_EQ(Initialise(), kAmplifiersReady);
  StartStreaming();
  ASSERT_TRUE(WaitUntil([&] { return testbed_->Amplifier(0).Streaming(); }));
  ASSERT_TRUE(testbed_->Node(0).WaitForPendingBulkReads(1, std::chrono::seconds(30)));
  const long long discardedBefore = testbed_->Node(0).Statistics().urbsDiscarded;

  fmBroadcastStop();
  // The device thread sends the queued Stop only once its read has ended: the amplifier hearing
  // it proves the abort (USBDEVFS_DISCARDURB) ended the read.
  EXPECT_TRUE(WaitUntil([&] { return !testbed_->Amplifier(0).Streaming(); }, kStopLimit));
  EXPECT_GT(testbed_->Node(0).Statistics().urbsDiscarded, discardedBefore);
  EXPECT_TRUE(testbed_->Node(0).WaitForPendingBulkReads(0, std::chrono::seconds(0)));
}

TEST_F(UsbfsFaults, AnAmplifierUnpluggedWhileStreamingLeavesTheLibraryResponsive) {
  BringUp(kPlates);
  StartStreaming();
  ASSERT_EQ(static_cast<int>(Collect(kWarmUpFrames, kPlates, kCollectLimit).size()),
            kWarmUpFrames);
  const int remaining = PositionOf(0);
  const std::string serial = AmplifierSerialAt(remaining);

  const long long requests = testbed_->Node(1).Statistics().ioctls;
  testbed_->Unplug(1);
  // The library meets the unplug (its pending read ends, further requests fail with ENODEV) and
  // goes on answering.
  EXPECT_TRUE(WaitUntil([&] { return testbed_->Node(1).Statistics().ioctls > requests; }));
  EXPECT_EQ(AmplifierSerialAt(remaining), serial);
  EXPECT_EQ(fmGetProductType(), kPlateType);
  EXPECT_EQ(fmDLLGetDeviceCount(), kPlates);

  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(ShutDownWithin(kShutdownLimit));
  EXPECT_LT(std::chrono::steady_clock::now() - started, kShutdownLimit);
}

}  // namespace
}  // namespace torva::e2e
