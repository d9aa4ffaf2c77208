// Amplifiers plugged in and out while the shipped library runs: the library keeps serving the
// amplifiers it has, and fmDLLInit rescans the bus and finds the set present then.

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <thread>

#include "tests/e2e/shipped_library_fixture.h"
#include "tests/support/process_stats.h"

namespace torva::e2e {
namespace {

using testing::WaitUntil;

constexpr int kPlates = 2;
constexpr int kWarmUpFrames = 10;
constexpr std::chrono::seconds kCollectLimit{30};
// How long the test watches a lost amplifier's thread, and what it may do meanwhile: a request
// or two already under way, and a small share of one processor for the other amplifier's stream.
constexpr std::chrono::milliseconds kQuietWindow{500};
constexpr long long kStragglingRequests = 2;
constexpr double kMaximumCpuShare = 0.25;

using UsbfsHotPlug = ShippedLibraryOnUsbfs;

TEST_F(UsbfsHotPlug, ARescanWithInitFindsTheAmplifiersPresentThen) {
  BringUp(kPlates);
  const std::string kept = testbed_->Amplifier(1).Description().amplifierSerial;

  testbed_->Unplug(0);
  Plug(1);
  const std::string added = testbed_->Amplifier(2).Description().amplifierSerial;
  // The running library keeps the set it brought up.
  EXPECT_EQ(fmDLLGetDeviceCount(), kPlates);

  ASSERT_EQ(Initialise(), kAmplifiersReady);
  EXPECT_EQ(LibrarySerials(), (std::set<std::string>{kept, added}));

  testbed_->Unplug(1);
  ASSERT_EQ(Initialise(), kAmplifiersReady);
  EXPECT_EQ(LibrarySerials(), (std::set<std::string>{added}));
}

TEST_F(UsbfsHotPlug, AnAmplifierPluggedInWhileStreamingIsLeftAloneUntilARescan) {
  BringUp(1);
  StartStreaming();
  ASSERT_EQ(static_cast<int>(Collect(kWarmUpFrames, 1, kCollectLimit).size()), kWarmUpFrames);
  Plug(1);
  const auto more = Collect(kWarmUpFrames, 1, kCollectLimit);
  ASSERT_EQ(static_cast<int>(more.size()), kWarmUpFrames);
  EXPECT_EQ(CheckFrames(more, 1).gaps, 0);
  EXPECT_EQ(fmDLLGetDeviceCount(), 1);
  EXPECT_EQ(testbed_->Node(1).OpenClients(), 0);
  fmBroadcastStop();
  ASSERT_EQ(Initialise(), kAmplifiersReady);
  EXPECT_EQ(fmDLLGetDeviceCount(), kPlates);
}

// Needs the device thread to notice the unplug (a transfer failing with "no device"), stop using
// the amplifier and report it to the control thread, which writes the error record.
TEST_F(UsbfsHotPlug, AnUnpluggedAmplifierIsReportedAndLeftAlone) {
  BringUp(kPlates);
  StartStreaming();
  ASSERT_EQ(static_cast<int>(Collect(kWarmUpFrames, kPlates, kCollectLimit).size()),
            kWarmUpFrames);
  const std::string gone = testbed_->Amplifier(1).Description().amplifierSerial;
  const int remaining = PositionOf(0);
  const std::string serial = AmplifierSerialAt(remaining);

  testbed_->Unplug(1);
  // The record may hold an earlier error (the bring-up's setup check): wait for this one.
  char text[TORVA_ERROR_TEXT_BYTES] = {};
  EXPECT_TRUE(WaitUntil([&] {
    return fmDLLGetError(text) == 1 && std::strstr(text, gone.c_str()) != nullptr;
  })) << text;
  EXPECT_NE(std::strstr(text, "disconnected"), nullptr) << text;
  // The other amplifier is still served.
  EXPECT_EQ(AmplifierSerialAt(remaining), serial);
  EXPECT_EQ(fmGetProductType(), kPlateType);

  // The lost amplifier's thread leaves it alone: a thread that kept retrying it would flood its
  // node with requests and keep a processor busy. (A measurement window, not a wait for a
  // condition.)
  const long long requests = testbed_->Node(1).Statistics().ioctls;
  const std::clock_t cpuBefore = std::clock();
  std::this_thread::sleep_for(kQuietWindow);
  const double cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  EXPECT_LE(testbed_->Node(1).Statistics().ioctls - requests, kStragglingRequests);
  if (testing::kCpuLimitsApply) {
    EXPECT_LT(cpuSeconds,
              kMaximumCpuShare * std::chrono::duration<double>(kQuietWindow).count());
  }
}

}  // namespace
}  // namespace torva::e2e
