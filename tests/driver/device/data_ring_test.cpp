// The data ring without threads or USB: packets written into its slots as the device thread
// reads them, lost packets judged from their counters, and the ring's wrap and run preparation.

#include "driver/device/data_ring.h"

#include <gtest/gtest.h>

#include <cstring>

#include "driver/device/streaming_packet.h"

namespace torva {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int32_t kStep = static_cast<std::int32_t>(kSamplesPerPacket);
constexpr std::int32_t kWrap = static_cast<std::int32_t>(kSampleCounterModulus);

// Reads a whole packet whose first counter is `counter`, as a bulk read would; its slot.
int Deliver(DataRing& ring, std::int32_t counter, Clock::time_point at = Clock::now()) {
  std::uint8_t* slot = ring.WriteSlot();
  std::memcpy(slot, &counter, sizeof counter);
  return ring.CompletePacket(at);
}

TEST(DataRing, LostPacketsAreCountedFromTheCountersAcrossTheirWrap) {
  DataRing ring;
  ring.PrepareOrEndRun(1, 0);
  EXPECT_EQ(ring.PacketSize(), kDefaultPacketSize);
  Deliver(ring, 12345);  // the first packet of a run is compared with nothing
  ring.ForgetRun();
  Deliver(ring, kWrap - 2 * kStep);
  Deliver(ring, kWrap - kStep);
  Deliver(ring, 0);  // the counter wrapped: one step, nothing lost
  Deliver(ring, kStep);
  EXPECT_EQ(ring.LostPackets(), 0);
  Deliver(ring, 3 * kStep);  // one packet missing
  EXPECT_EQ(ring.LostPackets(), 1);
  // A short read is one loss and its counter counts as seen: the next packet is no second loss.
  EXPECT_EQ(ring.CountShortPacket(), 2);
  Deliver(ring, 5 * kStep);
  EXPECT_EQ(ring.LostPackets(), 2);
  EXPECT_EQ(ring.Slot(0).packetsReceived, 7);
  ring.ForgetRun();
  EXPECT_EQ(ring.LostPackets(), 0);
}

TEST(DataRing, SlotsWrapAroundWithTheirBytesAndStamps) {
  DataRing ring;
  EXPECT_EQ(ring.Slot(0).data, nullptr);  // nothing before a run
  ring.PrepareOrEndRun(1, 64);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < DataRing::kSlots; ++i) EXPECT_EQ(Deliver(ring, i * kStep, start), i);
  const Clock::time_point late = start + std::chrono::seconds(1);
  EXPECT_EQ(Deliver(ring, DataRing::kSlots * kStep, late), 0);
  std::int32_t counter;
  std::memcpy(&counter, ring.Slot(0).data, sizeof counter);
  EXPECT_EQ(counter, DataRing::kSlots * kStep);
  EXPECT_EQ(ring.ReceivedAt(0), late);
  EXPECT_EQ(ring.ReceivedAt(1), start);
  EXPECT_EQ(ring.Slot(DataRing::kSlots).data, nullptr);
  EXPECT_EQ(ring.ReceivedAt(-1), Clock::time_point{});
}

TEST(DataRing, ARunIsPreparedOnceAndKeepsTheStorageOfTheSamePacketSize) {
  DataRing ring;
  ring.PrepareOrEndRun(1, 128);
  Deliver(ring, 7);
  const std::uint8_t* storage = ring.Slot(0).data;
  ring.PrepareOrEndRun(1, 128);  // the same run again: nothing changes
  EXPECT_EQ(ring.Slot(0).packetsReceived, 1);
  ring.PrepareOrEndRun(0, 128);
  ring.PrepareOrEndRun(2, 128);
  EXPECT_EQ(ring.Slot(0).data, storage);  // still readable by a reader of the last run
  EXPECT_EQ(ring.Slot(0).packetsReceived, 0);
  EXPECT_EQ(Deliver(ring, 0), 0);
}

}  // namespace
}  // namespace torva
