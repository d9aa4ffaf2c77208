// Acquisition on emulated amplifiers through the exported functions: aligned frames announced by
// message, the settings broadcasts, stop acknowledgements, the copying transfer calls and
// platform ordering.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "driver/layout/TorvaFrameLayout.h"
#include "driver/control/library_locks.h"
#include "driver/device/amplifier_device.h"
#include "platform/thread_messages.h"
#include "platform/window_target.h"
#include "tests/support/emulated_library.h"
#include "tests/support/process_stats.h"

// Defined in export_header_is_c.c, compiled as C.
extern "C" int torva_frame_layout_is_c(void);

namespace torva {
namespace {

using ::testing::ElementsAre;
using testing::EmulatedLibrary;
using testing::WaitUntil;

constexpr int kSamples = 16;

std::vector<sim::AmplifierDescription> Plates(std::vector<sim::SignalProfile> signals) {
  std::vector<sim::AmplifierDescription> descriptions;
  for (std::size_t i = 0; i < signals.size(); ++i) {
    descriptions.push_back(sim::DescribeAmplifier(static_cast<int>(i), 100));
    descriptions.back().signal = signals[i];
  }
  return descriptions;
}

class Acquisition : public EmulatedLibrary {
 protected:
  // Starts streaming to this thread's queue and collects `frames` frames (copied).
  std::vector<std::vector<float>> Collect(int frames) {
    std::vector<std::vector<float>> collected;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (static_cast<int>(collected.size()) < frames &&
           std::chrono::steady_clock::now() < deadline) {
      platform::Message message;
      if (!platform::WaitForMessage(std::chrono::milliseconds(100))) continue;
      while (platform::PeekMessage(message, true)) {
        EXPECT_EQ(message.message, static_cast<std::uint32_t>(TORVA_MSG_DATA_READY_THREAD));
        EXPECT_LT(message.wParam, static_cast<platform::WParam>(kRingEntries));
      }
      // Takes no more than asked for: under load several frames may be waiting at once.
      float* frame = nullptr;
      while (static_cast<int>(collected.size()) < frames && fmDLLTransferFloatData(&frame) > 0)
        collected.emplace_back(frame, frame + Control().Assembler().Ring().ValuesPerFrame());
    }
    return collected;
  }
  void StreamToThisThread() {
    fmDLLPostDataReadyMessages(1);
    fmDLLPostUserThreadMessages(static_cast<int>(platform::CurrentThreadId()));
    fmBroadcastStart();
  }
  void DrainQueue() {
    platform::Message message;
    while (platform::PeekMessage(message, true)) {
    }
  }
  void SetUp() override {
    EmulatedLibrary::SetUp();
    DrainQueue();
  }
};

TEST_F(Acquisition, FramesOfTwoAmplifiersAreAlignedAndContinuous) {
  BringUp(2);
  StreamToThisThread();
  const auto frames = Collect(20);
  ASSERT_EQ(frames.size(), 20u);
  float previous = -1.0f;
  for (const auto& frame : frames) {
    const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, 2};
    ASSERT_EQ(frame.size(),
              static_cast<std::size_t>(torva_frame_values_per_row(layout) * kSamples));
    for (int s = 0; s < kSamples; ++s) {
      const float counter = frame[static_cast<std::size_t>(torva_frame_counter(layout, s, 0))];
      // The same sample at both positions.
      EXPECT_EQ(frame[static_cast<std::size_t>(torva_frame_counter(layout, s, 1))], counter);
      if (previous >= 0) {
        EXPECT_EQ(counter, previous + 1.0f);
      }
      previous = counter;
    }
  }
  EXPECT_EQ(fmDLLGetDroppedDataCount(), 0);
  fmBroadcastStop();
}

// Packets read just before a stop whose announcements still wait in the control thread's queue
// when the next start has begun: they must not be taken as packets of the new run, whose ring
// slots they would name (and read while the device thread writes them). The test holds the
// assembly lock, which keeps the control thread from handling anything, across the stop, the
// start and the new run's first packet.
TEST_F(Acquisition, PacketsOfAStoppedRunStillQueuedAtTheNextStartAreLeftAlone) {
  BringUp(2);
  StreamToThisThread();
  ASSERT_EQ(Collect(2).size(), 2u);
  const auto received = [this](int slot) {
    return Control().Device(slot)->DataSlot(0).packetsReceived;
  };
  {
    std::lock_guard<platform::CriticalSection> hold(AssemblyLock());
    const int before = std::min(received(0), received(1));
    ASSERT_TRUE(WaitUntil([&] { return std::min(received(0), received(1)) >= before + 3; }));
    const std::uint32_t stoppedRun = Control().Device(0)->StreamingRun();
    fmBroadcastStop();
    fmBroadcastStart();
    ASSERT_TRUE(WaitUntil([&] {
      for (int slot = 0; slot < 2; ++slot) {
        const std::uint32_t run = Control().Device(slot)->StreamingRun();
        if (run == 0 || run == stoppedRun || received(slot) < 1) return false;
      }
      return true;
    }));
  }
  DrainQueue();
  const auto frames = Collect(8);
  ASSERT_EQ(frames.size(), 8u);
  const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, 2};
  float expected = 1.0f;  // the new run's first sample
  for (const auto& frame : frames) {
    for (int s = 0; s < kSamples; ++s, expected += 1.0f) {
      ASSERT_EQ(frame[static_cast<std::size_t>(torva_frame_counter(layout, s, 0))], expected);
      ASSERT_EQ(frame[static_cast<std::size_t>(torva_frame_counter(layout, s, 1))], expected);
    }
  }
  fmBroadcastStop();
}

// Initialised but not streaming, the control thread and every amplifier thread sleep until they
// are given work: a thread that polled would wake tens of times a second. (A measurement window,
// not a wait for a condition.)
TEST_F(Acquisition, IdleThreadsSleepUntilGivenWorkAndWakeForIt) {
  constexpr int kAmplifiers = 4;
  constexpr auto kWindow = std::chrono::seconds(1);
  constexpr long long kMostWakeUps = 25;  // a polling thread alone would add about 20
  BringUp(kAmplifiers);
  const long long before = testing::ContextSwitches();
  std::this_thread::sleep_for(kWindow);
  EXPECT_LE(testing::ContextSwitches() - before, kMostWakeUps);

  StreamToThisThread();
  EXPECT_EQ(Collect(4).size(), 4u);
}

TEST_F(Acquisition, AWindowTargetReceivesDataReadyWindowMessages) {
  BringUp(1);
  platform::WindowHandle window = platform::CreateWindowTarget();
  fmDLLPostDataReadyMessages(1);
  fmDLLPostWindowMessages(window);
  fmBroadcastStart();
  platform::Message message;
  ASSERT_TRUE(platform::GetWindowMessage(window, message, std::chrono::seconds(30)));
  EXPECT_EQ(message.message, static_cast<std::uint32_t>(TORVA_MSG_DATA_READY_WINDOW));
  float* frame = nullptr;
  EXPECT_GE(fmDLLTransferFloatData(&frame), 1);
  fmBroadcastStop();
  platform::DestroyWindowTarget(window);
}

TEST_F(Acquisition, RateRunModeAndGenlockAcceptOnlyTheirRanges) {
  BringUp(2);
  fmBroadcastAcquisitionRate(5);
  fmBroadcastAcquisitionRate(3001);
  EXPECT_EQ(fmDLLGetAcquisitionRate(), 1000);
  fmBroadcastAcquisitionRate(3000);
  EXPECT_EQ(fmDLLGetAcquisitionRate(), 3000);
  fmBroadcastRunMode(5);
  fmBroadcastRunMode(3);
  EXPECT_EQ(fmDLLGetRunMode(), 3);
  fmBroadcastGenlock(-1);
  fmBroadcastGenlock(2);
  EXPECT_EQ(fmDLLGetGenlock(), 2);
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(WaitForMemory(i, [](const AmplifierParameterBlock& m) {
      return m.acquisitionRate == 3000 && m.runMode == 3 && m.genlock == 2;
    }));
  }
  fmDLLSelectDeviceIndex(1);
  EXPECT_EQ(fmGetAcquisitionRate(), 3000);
  EXPECT_EQ(fmGetRunMode(), 3);
  fmSetRunMode(1);
  fmSetRunMode(9);
  EXPECT_EQ(fmGetRunMode(), 1);
  EXPECT_EQ(fmDLLGetRunMode(), 3);  // the selected amplifier only
}

TEST_F(Acquisition, StopFlagIsSetOnceEveryAmplifierAcknowledgedTheLatestStop) {
  BringUp(2);
  EXPECT_EQ(fmDLLGetStopCommandFlag(), 0);
  StreamToThisThread();
  ASSERT_EQ(Collect(2).size(), 2u);
  fmBroadcastStop();
  ASSERT_TRUE(WaitUntil([] { return fmDLLGetStopCommandFlag() == 1; }));
  // It stays set once every stop has been answered.
  ASSERT_TRUE(WaitUntil([&] { return Control().Stops().ReplyCount() >= 2; }));
  EXPECT_EQ(fmDLLGetStopCommandFlag(), 1);
  fmBroadcastStart();
  EXPECT_EQ(fmDLLGetStopCommandFlag(), 0);
  fmBroadcastStop();
  ASSERT_TRUE(WaitUntil([] { return fmDLLGetStopCommandFlag() == 1; }));
}

TEST_F(Acquisition, CopyingTransfersNeverCopyPastTheFrame) {
  BringUp(1);
  StreamToThisThread();
  ASSERT_TRUE(WaitUntil([&] { return Control().Assembler().Ring().Available() >= 4; }));
  fmBroadcastStop();
  const int values = Control().Assembler().Ring().ValuesPerFrame();
  ASSERT_EQ(values, 128);

  std::vector<std::int16_t> shorts(static_cast<std::size_t>(values) + 8, 0x5A5A);
  EXPECT_EQ(fmDLLGetTheShortDataLBVStyle(shorts.data(), 2 * values), 1);
  EXPECT_NE(shorts[0], 0x5A5A);
  EXPECT_EQ(shorts[static_cast<std::size_t>(values)], 0x5A5A);

  std::vector<float> floats(static_cast<std::size_t>(values) + 8, -7.0f);
  EXPECT_GE(fmDLLGetTheFloatDataLBVStyle(floats.data(), 1 << 30), 1);  // oversized: one frame
  EXPECT_NE(floats[0], -7.0f);
  EXPECT_EQ(floats[static_cast<std::size_t>(values)], -7.0f);

  std::vector<std::int32_t> longs(4, 99);
  EXPECT_EQ(fmDLLGetTheLongDataLBVStyle(longs.data(), -5), 1);  // negative: nothing copied
  EXPECT_THAT(longs, ElementsAre(99, 99, 99, 99));
  EXPECT_EQ(fmDLLGetTheLongDataLBVStyle(nullptr, 16), 0);
  EXPECT_EQ(fmDLLTransferFloatData(nullptr), 0);
}

TEST_F(Acquisition, SettingTheOrderRequiresAPermutation) {
  BringUp(2);
  int order[2];
  int swap[2] = {1, 0};
  fmDLLSetPlatformOrder(swap);
  ASSERT_EQ(fmDLLGetPlatformOrder(order), 2);
  EXPECT_THAT(order, ElementsAre(1, 0));
  fmDLLSelectDeviceIndex(0);
  EXPECT_EQ(Control().SelectedSlot(), 1);
  EXPECT_EQ(fmDLLGetDeviceIndex(), 0);
  fmDLLSetPlatformOrder(swap);
  fmDLLGetPlatformOrder(order);
  EXPECT_THAT(order, ElementsAre(0, 1));
  int duplicate[2] = {1, 1};
  int outOfRange[2] = {0, 2};
  fmDLLSetPlatformOrder(duplicate);
  fmDLLSetPlatformOrder(outOfRange);
  fmDLLSetPlatformOrder(nullptr);
  fmDLLGetPlatformOrder(order);
  EXPECT_THAT(order, ElementsAre(0, 1));
}

TEST_F(Acquisition, OrderingTakesThePlatesInTheOrderTheyAreLoaded) {
  // Plate B (slot 1) carries a person from the start; plate A is stepped on later.
  BringUp(Plates({sim::SignalProfile::kUnloaded, sim::SignalProfile::kStaticLoad}));
  fmDLLSetDataFormat(1);
  fmBroadcastPlatformOrderingThreshold(50.0f);
  fmDLLStartPlatformOrdering();
  StreamToThisThread();
  // While ordering runs, frames are neither announced nor handed out.
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).PacketsSent() >= 5 && Amplifier(1).PacketsSent() >= 5; }));
  EXPECT_EQ(fmDLLIsPlatformOrderingComplete(), 0);
  platform::Message message;
  EXPECT_FALSE(platform::PeekMessage(message, false));
  float* frame = nullptr;
  EXPECT_EQ(fmDLLTransferFloatData(&frame), 0);
  Amplifier(0).SetSignal(sim::SignalProfile::kStaticLoad);
  ASSERT_TRUE(WaitUntil([] { return fmDLLIsPlatformOrderingComplete() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return !Amplifier(0).Streaming() && !Amplifier(1).Streaming(); }));
  int order[2];
  fmDLLGetPlatformOrder(order);
  EXPECT_THAT(order, ElementsAre(1, 0));
  EXPECT_EQ(Control().DataFormat(), 1);
  EXPECT_FALSE(platform::PeekMessage(message, false));
  EXPECT_EQ(fmDLLTransferFloatData(&frame), 0);
}

TEST_F(Acquisition, APlateLoadedAgainIsOrderedOnceAndCancelRestoresEverything) {
  BringUp(Plates({sim::SignalProfile::kStaticLoad, sim::SignalProfile::kUnloaded}));
  fmDLLSetDataFormat(2);
  fmBroadcastPlatformOrderingThreshold(50.0f);
  fmDLLStartPlatformOrdering();
  StreamToThisThread();
  // Plate A is loaded in every packet, far more often than there are plates.
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).PacketsSent() >= 10 && Amplifier(1).PacketsSent() >= 10; }));
  EXPECT_EQ(fmDLLIsPlatformOrderingComplete(), 0);
  fmDLLCancelPlatformOrdering();
  EXPECT_EQ(Control().DataFormat(), 2);
  int order[2];
  fmDLLGetPlatformOrder(order);
  EXPECT_THAT(order, ElementsAre(0, 1));
  ASSERT_TRUE(WaitUntil([&] { return !Amplifier(0).Streaming(); }));
}

TEST_F(Acquisition, DroppedPacketsAreCountedPerAmplifier) {
  BringUp(2);
  StreamToThisThread();
  ASSERT_EQ(Collect(3).size(), 3u);
  Amplifier(1).DropPackets(2);
  ASSERT_TRUE(WaitUntil([] { return fmDLLGetSavedFailureCountPerDevice(1) > 0; }));
  EXPECT_EQ(fmDLLGetSavedFailureCountPerDevice(0), 0);
  EXPECT_EQ(fmDLLGetDroppedDataCount(), fmDLLGetSavedFailureCountPerDevice(1));
  EXPECT_EQ(fmDLLGetSavedFailureCountPerDevice(7), 0);
  fmBroadcastStop();
}

// A counter wrap is not a loss; a bulk read cut short is one lost packet and never reaches the
// frames as a half-filled packet.
TEST_F(Acquisition, ACounterWrapIsNoLossAndAShortReadIsOneLostPacket) {
  sim::AmplifierDescription plate = sim::DescribeAmplifier(0, 100);
  plate.firstSampleCounter = static_cast<std::int32_t>(kSampleCounterModulus - 2 * kSamples - 8);
  BringUp({plate});
  StreamToThisThread();
  ASSERT_EQ(Collect(5).size(), 5u);  // the counter wraps in the third packet
  EXPECT_EQ(Control().Device(0)->LostPackets(), 0);
  EXPECT_EQ(fmDLLGetDroppedDataCount(), 0);

  Amplifier(0).ShortenPackets(1, 100);
  const auto frames = Collect(6);
  ASSERT_EQ(frames.size(), 6u);
  int gaps = 0;
  for (std::size_t f = 1; f < frames.size(); ++f) {
    const float step = frames[f][0] - frames[f - 1][0];
    if (step != kSamples) {
      EXPECT_EQ(step, 2 * kSamples);  // exactly the one packet that came short
      ++gaps;
    }
  }
  for (const auto& frame : frames) EXPECT_NE(frame[0], 0.0f);
  EXPECT_LE(gaps, 1);
  EXPECT_EQ(Control().Device(0)->LostPackets(), 1);
  EXPECT_EQ(fmDLLGetDroppedDataCount(), 1);
  fmBroadcastStop();
}

TEST_F(Acquisition, TareValuesArriveAfterTheRequest) {
  BringUp(1);
  fmBroadcastTare();
  fmUpdateTare();  // that the flag reads 0 until the reply is in is shown with held replies
  int tare[6] = {};
  ASSERT_TRUE(WaitUntil([&] { return fmGetTare(tare) == 1; }));
  EXPECT_THAT(Commands(0), ::testing::Contains(181));
}

// Repeated full cycles: every thread the library starts ends again, and nothing hangs.
class Soak : public Acquisition {};

TEST_F(Soak, FiftyStartStreamStopShutdownCyclesLeaveNoThread) {
  sim::EmulatedBus::Instance().Install({});
  const std::size_t baseline = testing::ThreadBaseline();
  for (int cycle = 0; cycle < 50; ++cycle) {
    BringUp(2);
    StreamToThisThread();
    ASSERT_EQ(Collect(2).size(), 2u) << "cycle " << cycle;
    fmBroadcastStop();
    fmDLLShutDown();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; })) << "cycle " << cycle;
    DrainQueue();
  }
  EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() == baseline; }));
}

// The frame-layout header compiled as C (export_header_is_c.c) places values where C++ does.
TEST(FrameLayoutHeader, PlacesValuesAlikeInCAndCxx) {
  constexpr TorvaFrameLayout kRows = {TORVA_FORMAT_ROWS, 2};
  static_assert(torva_frame_auxiliary(kRows, 0, 0) == 13);
  EXPECT_EQ(torva_frame_layout_is_c(), torva_frame_auxiliary(kRows, 0, 0));
}

}  // namespace
}  // namespace torva
