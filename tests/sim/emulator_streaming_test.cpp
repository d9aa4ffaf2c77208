// Streaming from the emulated amplifier: packet layout, counters, pacing, signals and the
// streaming fault knobs.

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <thread>

#include "driver/usb/frame_clock.h"
#include "host_commands.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_amplifier.h"
#include "sim/stream_schedule.h"

namespace torva::sim {
namespace {

using namespace testing;
using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr milliseconds kPatience{2000};  // far beyond any packet period used here

AmplifierDescription Plate(SignalProfile signal) {
  AmplifierDescription description = DescribeAmplifier(0, 100);
  description.signal = signal;
  return description;
}

class EmulatorStreaming : public ::testing::Test {
 protected:
  EmulatorStreaming()
      : amplifier_(Plate(SignalProfile::kWalkingTrial), std::chrono::steady_clock::now()) {}

  // A high rate keeps the tests short: a packet every 16 / 3000 s.
  void StartFast() {
    ASSERT_TRUE(SetRate(amplifier_, 3000));
    ASSERT_TRUE(Start(amplifier_));
  }

  EmulatedAmplifier amplifier_;
};

TEST_F(EmulatorStreaming, PacketsCarrySixteenSamplesWithCountersRisingByOne) {
  StartFast();
  EXPECT_TRUE(amplifier_.Streaming());
  EXPECT_EQ(amplifier_.StreamRate(), 3000);
  std::int32_t expected = 1;  // the first sample after Start
  for (int p = 0; p < 5; ++p) {
    const auto packet = ReadPacket(amplifier_, kPatience);
    ASSERT_TRUE(packet);
    for (const StreamingSample& sample : packet->samples) {
      EXPECT_EQ(sample.counter, expected++);
      EXPECT_EQ(sample.auxiliary, 0);
      for (float value : sample.channels) EXPECT_TRUE(std::isfinite(value));
    }
  }
  EXPECT_EQ(amplifier_.PacketsSent(), 5);
}

TEST_F(EmulatorStreaming, StopEndsTheStreamAndStartRestartsTheCounters) {
  StartFast();
  ASSERT_TRUE(ReadPacket(amplifier_, kPatience));
  const auto stop = Command(amplifier_, CommandCode::kStop);
  ASSERT_TRUE(stop);
  EXPECT_EQ(stop->status, kReplyStatusDone);
  EXPECT_FALSE(amplifier_.Streaming());
  TransferStatus status{};
  EXPECT_FALSE(ReadPacket(amplifier_, milliseconds(20), &status));
  EXPECT_EQ(status, TransferStatus::kTimeout);
  ASSERT_TRUE(Start(amplifier_));
  const auto packet = ReadPacket(amplifier_, kPatience);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->samples[0].counter, 1);
}

TEST_F(EmulatorStreaming, ASmallBufferOverflowsAndOtherEndpointsStall) {
  StartFast();
  std::uint8_t small[64];
  EXPECT_EQ(amplifier_.BulkIn(kDataEndpoint, small, sizeof small, std::nullopt).status,
            TransferStatus::kOverflow);
  std::uint8_t buffer[512];
  EXPECT_EQ(amplifier_.BulkIn(0x83, buffer, sizeof buffer, std::nullopt).status,
            TransferStatus::kStall);
  EXPECT_EQ(amplifier_.BulkOut(0x02, buffer, 16).status, TransferStatus::kCompleted);
  EXPECT_EQ(amplifier_.BulkOut(0x04, buffer, 16).status, TransferStatus::kStall);
}

TEST_F(EmulatorStreaming, PollingSaysWhenTheNextPacketIsDue) {
  std::uint8_t buffer[512];
  const SteadyTime now = std::chrono::steady_clock::now();
  BulkPoll poll = amplifier_.PollBulkIn(kDataEndpoint, buffer, sizeof buffer, now);
  EXPECT_EQ(poll.result.status, TransferStatus::kPending);
  EXPECT_FALSE(poll.readyAt);  // not streaming: nothing scheduled
  const SteadyTime beforeStart = std::chrono::steady_clock::now();
  StartFast();
  const SteadyTime started = std::chrono::steady_clock::now();
  poll = amplifier_.PollBulkIn(kDataEndpoint, buffer, sizeof buffer, started);
  ASSERT_EQ(poll.result.status, TransferStatus::kPending);
  ASSERT_TRUE(poll.readyAt);
  // Packet 0 is due once its 16 samples at 3000 per second are in: 5.33 ms after the start, which
  // lies between the two readings of the clock around it (however long the test was held up).
  EXPECT_GE(*poll.readyAt - beforeStart, microseconds(5333));
  EXPECT_LE(*poll.readyAt - started, microseconds(5334));
  poll = amplifier_.PollBulkIn(kDataEndpoint, buffer, sizeof buffer, *poll.readyAt);
  EXPECT_EQ(poll.result.status, TransferStatus::kCompleted);
  EXPECT_EQ(poll.result.bytes, 512u);
}

TEST(StreamSchedule, DeadlinesFollowFromTheStartAloneAndNeverDrift) {
  StreamSchedule schedule;
  const SteadyTime begin{};
  schedule.Start(begin, 1000, milliseconds(0));
  EXPECT_EQ(schedule.PacketDue(0) - begin, milliseconds(16));
  EXPECT_EQ(schedule.PacketDue(999) - begin, milliseconds(16000));
  // 3 packets per 16 ms at 3000 samples/s: no rounding error accumulates over a day of packets.
  schedule.Start(begin, 3000, milliseconds(0));
  const std::int64_t packetsPerDay = 3000LL * 86400 / 16;
  EXPECT_EQ(schedule.PacketDue(packetsPerDay - 1) - begin, std::chrono::hours(24));
  // Rates outside the amplifier's range are clamped.
  schedule.Start(begin, 5, milliseconds(0));
  EXPECT_EQ(schedule.Rate(), StreamSchedule::kMinRate);
  // A late first packet holds back the early ones; later packets keep their time.
  schedule.Start(begin, 1000, milliseconds(100));
  EXPECT_EQ(schedule.PacketDue(0) - begin, milliseconds(116));
  EXPECT_EQ(schedule.PacketDue(5) - begin, milliseconds(116));
  EXPECT_EQ(schedule.PacketDue(10) - begin, milliseconds(176));
}

TEST(FrameNumber, AdvancesOnePerMillisecondAndWrapsAfter11Bits) {
  const usb::SteadyTime epoch{};
  EXPECT_EQ(usb::FrameNumberAt(epoch, epoch), 0u);
  EXPECT_EQ(usb::FrameNumberAt(epoch, epoch + milliseconds(5)), 5u);
  EXPECT_EQ(usb::FrameNumberAt(epoch, epoch + std::chrono::microseconds(5999)), 5u);
  EXPECT_EQ(usb::FrameNumberAt(epoch, epoch + milliseconds(2047)), 2047u);
  EXPECT_EQ(usb::FrameNumberAt(epoch, epoch + milliseconds(2048)), 0u);
  EXPECT_EQ(usb::FrameNumberAt(epoch, epoch + milliseconds(2050)), 2u);
  EmulatedAmplifier amplifier(DescribeAmplifier(0, 100), epoch);
  EXPECT_EQ(amplifier.FrameNumber(epoch + milliseconds(4100)), 4u);
}

TEST_F(EmulatorStreaming, StartWaitsForTheRequestedFrame) {
  ASSERT_TRUE(SetRate(amplifier_, 3000));
  const std::uint32_t now = amplifier_.FrameNumber(std::chrono::steady_clock::now());
  const auto startFrame = static_cast<std::int32_t>((now + 200) & usb::kFrameNumberMask);
  const SteadyTime sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(Start(amplifier_, startFrame));
  ASSERT_TRUE(ReadPacket(amplifier_, kPatience));
  // Sampling began about 200 frames later, and the first packet needed 5.3 ms more.
  EXPECT_GE(std::chrono::steady_clock::now() - sent, milliseconds(198));
}

TEST_F(EmulatorStreaming, DroppedPacketsMakeTheCounterJump) {
  StartFast();
  const auto first = ReadPacket(amplifier_, kPatience);
  ASSERT_TRUE(first);
  amplifier_.DropPackets(2);
  const auto next = ReadPacket(amplifier_, kPatience);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->samples[0].counter - first->samples[0].counter, 3 * 16);
}

TEST_F(EmulatorStreaming, ALateFirstPacketArrivesLateButWithItsCounter) {
  amplifier_.SetFirstPacketDelay(milliseconds(150));
  const SteadyTime sent = std::chrono::steady_clock::now();
  StartFast();
  const auto first = ReadPacket(amplifier_, kPatience);
  ASSERT_TRUE(first);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, milliseconds(150));
  EXPECT_EQ(first->samples[0].counter, 1);
  // The packets held back meanwhile follow at once, in order.
  const auto second = ReadPacket(amplifier_, milliseconds(0));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->samples[0].counter, 17);
}

TEST_F(EmulatorStreaming, TheTriggerLevelAppearsInTheAuxiliaryWord) {
  StartFast();
  ASSERT_TRUE(ReadPacket(amplifier_, kPatience));
  amplifier_.SetTriggerLevel(5);
  const auto packet = ReadPacket(amplifier_, kPatience);
  ASSERT_TRUE(packet);
  for (const StreamingSample& sample : packet->samples) EXPECT_EQ(sample.auxiliary, 5);
}

TEST_F(EmulatorStreaming, AStalledEndpointFailsUntilTheHaltIsCleared) {
  StartFast();
  amplifier_.StallDataEndpoint();
  TransferStatus status{};
  EXPECT_FALSE(ReadPacket(amplifier_, kPatience, &status));
  EXPECT_EQ(status, TransferStatus::kStall);
  EXPECT_TRUE(amplifier_.ClearHalt(kDataEndpoint));
  EXPECT_TRUE(ReadPacket(amplifier_, kPatience));
}

TEST_F(EmulatorStreaming, UnplugAndAbortEndAPendingRead) {
  // Not streaming: a read without a deadline waits until something ends it.
  auto read = std::async(std::launch::async, [&] {
    std::uint8_t buffer[512];
    return amplifier_.BulkIn(kDataEndpoint, buffer, sizeof buffer, std::nullopt).status;
  });
  ASSERT_TRUE(amplifier_.WaitForBlockedReads(1, kPatience));
  EXPECT_EQ(read.wait_for(milliseconds(0)), std::future_status::timeout);
  amplifier_.AbortPipe(kDataEndpoint);
  EXPECT_EQ(read.get(), TransferStatus::kCancelled);

  read = std::async(std::launch::async, [&] {
    std::uint8_t buffer[512];
    return amplifier_.BulkIn(kDataEndpoint, buffer, sizeof buffer, std::nullopt).status;
  });
  ASSERT_TRUE(amplifier_.WaitForBlockedReads(1, kPatience));
  amplifier_.Unplug();
  EXPECT_EQ(read.get(), TransferStatus::kNoDevice);
  EXPECT_FALSE(amplifier_.Present());
  EXPECT_EQ(amplifier_.ControlOut(SetupPacket{}, nullptr, 0).status, TransferStatus::kNoDevice);
  std::uint8_t buffer[512];
  EXPECT_EQ(amplifier_.ControlIn(SetupPacket{}, buffer, 0).status, TransferStatus::kNoDevice);
  EXPECT_FALSE(amplifier_.ResetDevice());
  EXPECT_FALSE(amplifier_.ClearHalt(kDataEndpoint));
}

// ---- Signals ----

struct Trial {
  std::vector<StreamingSample> samples;
};

Trial Record(EmulatedAmplifier& amplifier, int packets) {
  Trial trial;
  for (int p = 0; p < packets; ++p) {
    const auto packet = ReadPacket(amplifier, kPatience);
    if (!packet) break;
    trial.samples.insert(trial.samples.end(), std::begin(packet->samples),
                         std::end(packet->samples));
  }
  return trial;
}

TEST(EmulatorSignals, AStaticLoadWeighsThePersonAndItsCentreOfPressureStaysPut) {
  AmplifierDescription description = Plate(SignalProfile::kStaticLoad);
  EmulatedAmplifier amplifier(description, std::chrono::steady_clock::now());
  ASSERT_TRUE(SetRate(amplifier, 3000));
  ASSERT_TRUE(Command(amplifier, CommandCode::kZero));
  ASSERT_TRUE(Start(amplifier));
  const Trial trial = Record(amplifier, 20);
  ASSERT_EQ(trial.samples.size(), 320u);
  const double weight = description.bodyMassKg * 9.80665;
  const double depth = description.platformOffsets[2] * 0.0254;
  for (const StreamingSample& s : trial.samples) {
    EXPECT_NEAR(s.channels[2], weight, 0.01 * weight);
    const double copX = (-s.channels[4] + depth * s.channels[0]) / s.channels[2];
    EXPECT_NEAR(copX, 0.03, 0.01);
  }
}

TEST(EmulatorSignals, TareRemovesTheLoadAndClearTareBringsItBack) {
  EmulatedAmplifier amplifier(Plate(SignalProfile::kStaticLoad), std::chrono::steady_clock::now());
  ASSERT_TRUE(SetRate(amplifier, 3000));
  ASSERT_TRUE(Command(amplifier, CommandCode::kZero));
  ASSERT_TRUE(Start(amplifier));
  ASSERT_TRUE(Command(amplifier, CommandCode::kTare));
  auto packet = ReadPacket(amplifier, kPatience);
  ASSERT_TRUE(packet);
  EXPECT_NEAR(packet->samples[0].channels[2], 0.0, 10.0);  // sway and noise only
  const auto tare = Command(amplifier, CommandCode::kReadTare);
  ASSERT_TRUE(tare);
  std::int32_t fz = 0;
  std::memcpy(&fz, tare->payload.data() + 8, sizeof fz);
  EXPECT_GT(fz, 50000);  // hundredths of a newton: the person's weight
  ASSERT_TRUE(Command(amplifier, CommandCode::kClearTare));
  packet = ReadPacket(amplifier, kPatience);
  ASSERT_TRUE(packet);
  EXPECT_GT(packet->samples[0].channels[2], 550.0f);
}

TEST(EmulatorSignals, AWalkingStepRollsTheCentreOfPressureFromHeelToToe) {
  AmplifierDescription description = Plate(SignalProfile::kWalkingTrial);
  EmulatedAmplifier amplifier(description, std::chrono::steady_clock::now());
  // At the top rate a whole period of the walk is 12000 samples (750 packets, 4 s). Read the
  // samples straight from the schedule's perspective instead: poll with times far ahead.
  ASSERT_TRUE(SetRate(amplifier, 3000));
  ASSERT_TRUE(Command(amplifier, CommandCode::kZero));
  ASSERT_TRUE(Start(amplifier));
  std::vector<StreamingSample> samples;
  const SteadyTime future = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int p = 0; p < 500; ++p) {  // 8000 samples: 2.67 s, one whole step
    StreamingPacket packet{};
    const BulkPoll poll = amplifier.PollBulkIn(
        kDataEndpoint, reinterpret_cast<std::uint8_t*>(&packet), sizeof packet, future);
    ASSERT_EQ(poll.result.status, TransferStatus::kCompleted);
    samples.insert(samples.end(), std::begin(packet.samples), std::end(packet.samples));
  }
  const double weight = description.bodyMassKg * 9.80665;
  const double depth = description.platformOffsets[2] * 0.0254;
  double peak = 0.0;
  std::vector<double> copY;
  int unloaded = 0;
  for (const StreamingSample& s : samples) {
    const double fz = s.channels[2];
    peak = std::max(peak, fz);
    if (fz < 5.0) ++unloaded;
    if (fz > 0.5 * weight) copY.push_back((s.channels[3] + depth * s.channels[1]) / fz);
  }
  EXPECT_GT(peak, 1.05 * weight);  // the first hump of a walking step
  EXPECT_LT(peak, 1.4 * weight);
  EXPECT_GT(unloaded, 2000);        // before and after the step the plate is empty
  ASSERT_GT(copY.size(), 1000u);
  EXPECT_LT(copY.front(), -0.05);   // heel behind the centre...
  EXPECT_GT(copY.back(), 0.05);     // ...toe in front of it
  for (std::size_t i = 100; i < copY.size(); i += 100) EXPECT_GT(copY[i], copY[i - 100]);
}

}  // namespace
}  // namespace torva::sim
