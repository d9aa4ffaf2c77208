// Frame assembly without threads: packets from a fake device ring, through alignment, the three
// layouts, the frame ring and its take calls.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "driver/control/frame_assembler.h"
#include "driver/control/library_locks.h"
#include "driver/device/streaming_packet.h"

namespace torva {
namespace {

constexpr int kPacketBytes = 512;
constexpr int kSamples = 16;

// Device data rings of the test: packets by (slot, ring index).
class FakeDevices : public PacketSource {
 public:
  // Queues a packet whose first counter is `first` for a slot; returns its ring index.
  int Add(int slot, std::int32_t first, float fz = 0.0f, std::int32_t aux = 0) {
    StreamingPacket packet{};
    for (int s = 0; s < kSamples; ++s) {
      StreamingSample& sample = packet.samples[s];
      sample.counter = first + s;
      for (int c = 0; c < 6; ++c) sample.channels[c] = static_cast<float>(slot * 100 + c) + 0.5f;
      sample.channels[2] = fz;
      sample.auxiliary = aux + s;
    }
    const int index = next_[slot];
    next_[slot] = (index + 1) % kRingEntries;  // a device's data ring wraps like the real one
    auto& bytes = packets_[{slot, index}];
    bytes.resize(kPacketBytes);
    std::memcpy(bytes.data(), &packet, kPacketBytes);
    return index;
  }
  const std::uint8_t* Packet(int slot, int ringIndex, int& packetSize) const override {
    auto it = packets_.find({slot, ringIndex});
    if (it == packets_.end()) return nullptr;
    packetSize = kPacketBytes;
    return it->second.data();
  }

 private:
  std::map<std::pair<int, int>, std::vector<std::uint8_t>> packets_;
  std::map<int, int> next_;
};

class FrameAssembly : public ::testing::Test {
 protected:
  void Start(int amplifiers, int format) {
    format_ = format;
    assembler_.Reset(amplifiers, kPacketBytes, format);
    for (int slot = 0; slot < kMaxAmplifiers; ++slot) positions_[static_cast<std::size_t>(slot)] = slot;
  }
  // Announces a packet of a slot and tries to complete a frame; returns the completed index.
  int Arrive(int slot, std::int32_t first, float fz = 0.0f, bool deliver = true) {
    devices_.Add(slot, first, fz);
    assembler_.Announce(slot, positions_[static_cast<std::size_t>(slot)], false, devices_, format_);
    return assembler_.TryComplete(devices_, format_, deliver, positions_);
  }
  const float* TakeFrame() {
    const float* frame = nullptr;
    return assembler_.Ring().TakeFloats(frame) > 0 ? frame : nullptr;
  }

  FakeDevices devices_;
  FrameAssembler assembler_;
  std::array<int, kMaxAmplifiers> positions_{};
  int format_ = kFormatRecords;
};

TEST_F(FrameAssembly, OneAmplifierInRecordFormatGives128ValuesPerFrame) {
  Start(1, kFormatRecords);
  EXPECT_EQ(assembler_.Ring().ValuesPerFrame(), 128);
  ASSERT_EQ(Arrive(0, 1), 0);
  const float* frame = TakeFrame();
  ASSERT_NE(frame, nullptr);
  for (int s = 0; s < kSamples; ++s) {
    EXPECT_EQ(frame[s * 8 + 0], static_cast<float>(1 + s));  // counter
    EXPECT_EQ(frame[s * 8 + 1], 0.5f);                      // Fx of slot 0
    EXPECT_EQ(frame[s * 8 + 7], static_cast<float>(s));     // auxiliary word
  }
}

TEST_F(FrameAssembly, TwoAmplifiersInRowFormatGiveRowsOfFourteenValues) {
  Start(2, kFormatRows);
  EXPECT_EQ(assembler_.Ring().ValuesPerFrame(), 256);
  EXPECT_EQ(Arrive(0, 17), -1);
  ASSERT_EQ(Arrive(1, 17), 0);
  const float* frame = TakeFrame();
  ASSERT_NE(frame, nullptr);
  for (int s = 0; s < kSamples; ++s) {
    const float* row = frame + s * 14;
    EXPECT_EQ(row[0], static_cast<float>(17 + s));  // counter of position 0
    EXPECT_EQ(row[1], 0.5f);                        // Fx of position 0
    EXPECT_EQ(row[7], 100.5f);                      // Fx of position 1
    EXPECT_EQ(row[13], static_cast<float>(s));      // auxiliary word of the last position
  }
}

TEST_F(FrameAssembly, ChannelFormatPlacesSixValuesPerAmplifierAndCountsNoDrops) {
  Start(2, kFormatChannels);
  EXPECT_EQ(assembler_.Ring().ValuesPerFrame(), 6 * 16 * 2);
  Arrive(0, 500);  // a counter far from the last one seen
  ASSERT_EQ(Arrive(1, 500), 0);
  const float* frame = TakeFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame[(3 * 2 + 1) * 6 + 0], 100.5f);  // sample 3, position 1, Fx
  EXPECT_EQ(assembler_.Dropped(0), 0);
  EXPECT_EQ(assembler_.Dropped(1), 0);
}

TEST_F(FrameAssembly, ALateAmplifiersOlderPacketIsDiscardedUntilFrameNumbersAgree) {
  Start(2, kFormatRecords);
  EXPECT_EQ(Arrive(0, 160), -1);
  EXPECT_EQ(Arrive(1, 176), -1);  // A holds 160, B 176: A's packet is discarded
  EXPECT_EQ(assembler_.Ring().Available(), 0);
  ASSERT_EQ(Arrive(0, 176), 0);
  const float* frame = TakeFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame[0], 176.0f);  // position 0, first sample
  EXPECT_EQ(frame[8], 176.0f);  // position 1, first sample
}

TEST_F(FrameAssembly, AlignmentWorksAcrossACounterWrap) {
  Start(2, kFormatRecords);
  const std::int32_t beforeWrap = static_cast<std::int32_t>(kSampleCounterModulus) - 16;
  ASSERT_EQ(Arrive(0, beforeWrap), -1);
  ASSERT_EQ(Arrive(1, beforeWrap), 0);
  // The first amplifier has wrapped, the second is one packet late: the second catches up.
  EXPECT_EQ(Arrive(0, 0), -1);
  EXPECT_EQ(Arrive(1, 0), 1);
  EXPECT_EQ(Arrive(1, 16), -1);
  EXPECT_EQ(Arrive(0, 16), 2);
  EXPECT_EQ(assembler_.Ring().Available(), 3);
  // Counters that follow each other across the wrap are not counted as drops, and the first
  // sample of a run has nothing to follow.
  EXPECT_EQ(assembler_.Dropped(0), 0);
}

// Three amplifiers whose counters are so far apart that "later" goes round in a circle (B after
// A, C after B, A after C): no frame may join their packets. The one that is behind the others'
// choice and the one that cannot be ordered are discarded until all three agree.
TEST_F(FrameAssembly, AmplifiersTooFarApartToBeOrderedAreNeverJoinedInAFrame) {
  Start(3, kFormatRecords);
  constexpr std::int32_t kA = 0, kB = 8'000'000, kC = 16'500'000;
  ASSERT_TRUE(FrameAssembler::Later(kB, kA) && FrameAssembler::Later(kC, kB) &&
              FrameAssembler::Later(kA, kC));
  for (std::int32_t step = 0; step < 4 * kSamples; step += kSamples) {
    EXPECT_EQ(Arrive(0, kA + step), -1);
    EXPECT_EQ(Arrive(1, kB + step), -1);
    EXPECT_EQ(Arrive(2, kC + step), -1);
  }
  EXPECT_EQ(assembler_.Ring().Available(), 0);
  EXPECT_GE(assembler_.Incomparable(), 1);
  // Once every amplifier holds the same frame number, frames complete again.
  constexpr std::int32_t kAgreed = kC + 4 * kSamples;
  EXPECT_EQ(Arrive(0, kAgreed), -1);
  EXPECT_EQ(Arrive(1, kAgreed), -1);
  EXPECT_EQ(Arrive(2, kAgreed), 0);
  const float* frame = TakeFrame();
  ASSERT_NE(frame, nullptr);
  for (int position = 0; position < 3; ++position)
    EXPECT_EQ(frame[position * 8], static_cast<float>(kAgreed)) << position;
}

TEST_F(FrameAssembly, DropsAreCountedPerGapInRecordAndRowFormats) {
  Start(1, kFormatRecords);
  Arrive(0, 1001);  // the first sample of a run follows nothing: no gap
  Arrive(0, 1017);
  Arrive(0, 1049);  // one packet missing
  EXPECT_EQ(assembler_.Dropped(0), 1);
  // A new start: its first sample is again no gap, wherever the counter stands.
  assembler_.ClearDropped(0);
  Arrive(0, 5000);
  Arrive(0, 5016);
  EXPECT_EQ(assembler_.Dropped(0), 0);
}

TEST_F(FrameAssembly, FloatTransferReportsHowManyFramesWereWaiting) {
  Start(1, kFormatRecords);
  Arrive(0, 1);
  Arrive(0, 17);
  Arrive(0, 33);
  const float* frame = nullptr;
  FrameRing& ring = assembler_.Ring();
  EXPECT_EQ(ring.TakeFloats(frame), 3);
  EXPECT_EQ(frame[0], 1.0f);
  EXPECT_EQ(ring.TakeFloats(frame), 2);
  EXPECT_EQ(ring.TakeFloats(frame), 1);
  EXPECT_EQ(frame[0], 33.0f);
  const float* untouched = reinterpret_cast<const float*>(0x1);
  EXPECT_EQ(ring.TakeFloats(untouched), 0);
  EXPECT_EQ(untouched, reinterpret_cast<const float*>(0x1));
}

TEST_F(FrameAssembly, IntegerTransfersTruncateAndShortsWrap) {
  Start(1, kFormatChannels);
  Arrive(0, 1, 40000.7f);
  Arrive(0, 17, -40000.7f);
  FrameRing& ring = assembler_.Ring();
  const std::int32_t* longs = nullptr;
  ASSERT_EQ(ring.TakeLongs(longs), 1);
  EXPECT_EQ(longs[2], 40000);
  const std::int16_t* shorts = nullptr;
  ASSERT_EQ(ring.TakeShorts(shorts), 1);
  EXPECT_EQ(shorts[2], static_cast<std::int16_t>(-40000 + 65536));
  EXPECT_EQ(ring.TakeShorts(shorts), 0);
}

TEST_F(FrameAssembly, AFullRingDropsTheOldestFrameAndCountsTheOverrun) {
  Start(1, kFormatRecords);
  const int total = kRingEntries + 10;
  for (int i = 0; i < total; ++i) Arrive(0, 1 + 16 * i);
  FrameRing& ring = assembler_.Ring();
  EXPECT_EQ(ring.Available(), kRingEntries);
  EXPECT_EQ(ring.Overruns(), 10);
  EXPECT_EQ(assembler_.Dropped(0), 0);  // the amplifier lost nothing
  // The frames handed out are the newest 625, oldest first, in order.
  const float* frame = nullptr;
  float previous = 0.0f;
  int taken = 0;
  while (ring.TakeFloats(frame) > 0) {
    if (taken == 0) {
      EXPECT_EQ(frame[0], static_cast<float>(1 + 16 * 10));
    }
    EXPECT_GT(frame[0], previous);
    previous = frame[0];
    ++taken;
  }
  EXPECT_EQ(taken, kRingEntries);
}

TEST_F(FrameAssembly, FramesAreNeitherCopiedNorCountedWhileDeliveryIsOff) {
  Start(1, kFormatRecords);
  Arrive(0, 1, 0.0f, /*deliver=*/false);
  Arrive(0, 17, 0.0f, /*deliver=*/false);
  EXPECT_EQ(assembler_.Ring().Available(), 0);
  EXPECT_EQ(TakeFrame(), nullptr);
  Arrive(0, 33);
  const float* frame = TakeFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame[0], 33.0f);
  EXPECT_EQ(TakeFrame(), nullptr);
}

TEST_F(FrameAssembly, AWiderFormatChosenWhileRunningWaitsForTheNextStart) {
  Start(1, kFormatChannels);
  format_ = kFormatRecords;  // switched while running
  Arrive(0, 1, 5.0f);
  const float* frame = TakeFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame[2], 5.0f);  // still the channels-only layout: Fz of sample 0 at entry 2
}

TEST(FrameAssemblerRules, LaterComparesAcrossAWrap) {
  EXPECT_TRUE(FrameAssembler::Later(176, 160));
  EXPECT_FALSE(FrameAssembler::Later(160, 176));
  EXPECT_FALSE(FrameAssembler::Later(5, 5));
  EXPECT_TRUE(FrameAssembler::Later(0, 16777200));
  EXPECT_FALSE(FrameAssembler::Later(16777200, 0));
}

}  // namespace
}  // namespace torva
