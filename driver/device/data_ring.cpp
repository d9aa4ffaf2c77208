#include "driver/device/data_ring.h"

#include <algorithm>
#include <cstring>

#include "driver/device/device_runtime_block.h"
#include "driver/device/streaming_packet.h"

namespace torva {
namespace {

// The counter a run starts comparing against.
constexpr std::int32_t kCounterBeforeRun = 1;
constexpr std::uint32_t kCounterMask = static_cast<std::uint32_t>(kSampleCounterModulus - 1);

}  // namespace

void DataRing::PrepareOrEndRun(std::uint32_t run, int packetSize) {
  if (run != 0 && run != preparedRun_) {
    if (packetSize <= 0) packetSize = kDefaultPacketSize;
    if (packetSize != packetSize_) {
      // The ring keeps its storage for as long as the packet size stays the same, so a slot
      // announced before this run is still readable while the control thread catches up.
      storage_.assign(static_cast<std::size_t>(kSlots) * static_cast<std::size_t>(packetSize), 0);
      packetSize_ = packetSize;
    } else {
      std::fill(storage_.begin(), storage_.end(), 0);
    }
    packetsReceived_ = 0;
    position_ = 0;
    preparedRun_ = run;
  } else if (run == 0) {
    preparedRun_ = 0;
  }
}

void DataRing::ForgetRun() {
  previousCounter_ = kCounterBeforeRun;
  firstPacketOfRun_ = true;
  lostPackets_ = 0;
}

std::uint8_t* DataRing::WriteSlot() {
  std::uint8_t* slot = storage_.data() + Offset(position_);
  std::memset(slot, 0, static_cast<std::size_t>(packetSize_));
  return slot;
}

int DataRing::CountShortPacket() {
  const int lost = ++lostPackets_;
  if (!firstPacketOfRun_) {
    previousCounter_ = static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(previousCounter_) + kSamplesPerPacket) & kCounterMask);
  }
  return lost;
}

int DataRing::CompletePacket(std::chrono::steady_clock::time_point at) {
  const int slot = position_;
  receivedAt_[static_cast<std::size_t>(slot)].store(at.time_since_epoch().count(),
                                                     std::memory_order_relaxed);
  std::uint32_t counter;
  std::memcpy(&counter, storage_.data() + Offset(slot), sizeof counter);
  // The difference is taken unsigned and modulo 2^24, so nothing overflows.
  const std::uint32_t step =
      (counter - static_cast<std::uint32_t>(previousCounter_)) & kCounterMask;
  if (!firstPacketOfRun_ && step != static_cast<std::uint32_t>(kSamplesPerPacket)) ++lostPackets_;
  firstPacketOfRun_ = false;
  previousCounter_ = static_cast<std::int32_t>(counter);
  ++packetsReceived_;
  position_ = (position_ + 1) % kSlots;
  return slot;
}

DataRing::SlotView DataRing::Slot(int slot) const {
  SlotView view;
  if (slot < 0 || slot >= kSlots || packetSize_ == 0) return view;
  view.data = storage_.data() + Offset(slot);
  view.packetSize = packetSize_;
  view.packetsReceived = packetsReceived_.load();
  return view;
}

std::chrono::steady_clock::time_point DataRing::ReceivedAt(int slot) const {
  if (slot < 0 || slot >= kSlots) return {};
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(
      receivedAt_[static_cast<std::size_t>(slot)].load(std::memory_order_relaxed)));
}

}  // namespace torva
