#pragma once
// The data ring of one amplifier: kSlots slots, each holding one streaming packet as it was read
// together with the time its read returned, and the count of packets lost in the streaming run,
// judged from the sample counters the packets carry.
//
// Threads and locking:
// - The device thread reads each packet straight into WriteSlot() and then completes it
//   (CompletePacket, or CountShortPacket for a short read) without the device lock: it alone
//   writes the slots, their stamps, the position and the counts.
// - PrepareOrEndRun and ForgetRun are called on the device thread with the owning device's lock
//   (CUSBDevice::lock_) held, in the same hold in which the device reads the run they follow.
// - Any thread reads a slot (Slot, ReceivedAt) and the lost count without a lock. A slot's number
//   is handed over by message after the slot was written, and the slot is not written again until
//   the ring has wrapped. The storage lives as long as the ring and is kept across runs of the same
//   packet size, so a slot announced in an earlier run stays readable.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace torva {

class DataRing {
 public:
  static constexpr int kSlots = 625;

  // A streaming packet as the control thread reads it.
  struct SlotView {
    const std::uint8_t* data = nullptr;
    int packetSize = 0;
    int packetsReceived = 0;
  };

  // Readies the ring for streaming run `run` once: slots of `packetSize` bytes (kDefaultPacketSize
  // when it is not positive), cleared, and the position and the received count back at 0. Run 0
  // (no run) lets the next run be prepared afresh.
  void PrepareOrEndRun(std::uint32_t run, int packetSize);
  // The run the ring was last prepared for; 0 when none.
  std::uint32_t PreparedRun() const { return preparedRun_; }
  // Called while not streaming: the next packet is the first of a run again (it has no
  // predecessor to be compared with) and no packet counts as lost.
  void ForgetRun();

  int PacketSize() const { return packetSize_; }
  // The slot the next packet is read into, cleared.
  std::uint8_t* WriteSlot();
  // A read brought less than a whole packet: the packet counts as lost, and the counter it should
  // have carried as seen, so the next packet is no second loss. Returns the lost count.
  int CountShortPacket();
  // The whole packet in WriteSlot() arrived at `at`: stamps it, counts it, counts a lost packet
  // when its counter does not follow its predecessor's (modulo 2^24, so a wrap is a step like any
  // other) and moves on. Returns the packet's slot.
  int CompletePacket(std::chrono::steady_clock::time_point at);

  // A slot's packet; empty for a slot outside the ring or before any run.
  SlotView Slot(int slot) const;
  // When the read that filled a slot returned (for latency measurements).
  std::chrono::steady_clock::time_point ReceivedAt(int slot) const;
  int LostPackets() const { return lostPackets_.load(); }

 private:
  // Where a slot starts in the storage.
  std::size_t Offset(int slot) const {
    return static_cast<std::size_t>(slot) * static_cast<std::size_t>(packetSize_);
  }

  std::vector<std::uint8_t> storage_;  // kSlots x packet size
  // The device thread stamps a slot and the control thread reads it without a lock: a 64-bit
  // atomic must be lock-free (and so 8-byte aligned and torn by no reader) in the 32-bit library
  // too.
  static_assert(std::atomic<std::int64_t>::is_always_lock_free);
  std::array<std::atomic<std::int64_t>, kSlots> receivedAt_{};  // steady-clock ticks
  std::uint32_t preparedRun_ = 0;
  int packetSize_ = 0;
  int position_ = 0;
  std::atomic<int> packetsReceived_{0};
  std::int32_t previousCounter_ = 1;
  bool firstPacketOfRun_ = true;
  std::atomic<int> lostPackets_{0};
};

}  // namespace torva
