#pragma once
// Assembles the amplifiers' streaming packets into frames in which every amplifier stands at the
// same sample, in one of three layouts, and completes them into the frame ring.
//
// Per slot it tracks whether a packet of the slot is in the frame being assembled (have), how
// many announced packets wait to be taken (pending), which data-ring slot of the device comes
// next (read index) and the frame number of the packet taken last. A frame completes when every
// amplifier holds a packet with the same frame number; older packets of an amplifier that is
// behind are discarded until they agree. Frame numbers are compared across a counter wrap; an
// amplifier whose frame number cannot be ordered against the others' (counters further apart
// than the wrap distance) has its packets discarded too, never merged with theirs.
//
// Threads: every member runs on the control thread under the assembly lock, except Reset and
// ClearDropped (the start of acquisition on the caller's thread, also under the assembly lock)
// and the ring's take
// calls and the dropped-sample reads (caller's thread; the counts are atomics, the ring guards
// itself with the frame-count lock).

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "driver/control/control_limits.h"
#include "driver/control/frame_layout.h"
#include "driver/control/frame_ring.h"

namespace torva {

// Where the packet handler finds a streaming packet: a device's data-ring slot.
class PacketSource {
 public:
  virtual ~PacketSource() = default;
  // The packet in a device's data-ring slot and its size in bytes; null when there is none.
  virtual const std::uint8_t* Packet(int slot, int ringIndex, int& packetSize) const = 0;
};

class FrameAssembler {
 public:
  // Frame numbers further apart than this have wrapped around.
  static constexpr std::int64_t kWrapDistance = 16000000;

  // Values per sample and amplifier in a layout (0 for an unknown format).
  static constexpr int ValuesPerRecord(int format) { return FrameLayout::ValuesPerRecord(format); }
  // Whether frame number `a` is later than `b`, across a counter wrap.
  static bool Later(std::int32_t a, std::int32_t b);
  // Whether `counter` directly follows `previous` (also across a wrap of the counter).
  static bool Consecutive(std::int32_t previous, std::int32_t counter);

  // Start of acquisition: clears the assembly state and the ring and sizes the buffers for
  // `deviceCount` amplifiers, `packetSize`-byte packets and the data format. A format other than
  // 0, 1 or 2 keeps the previous geometry.
  void Reset(int deviceCount, int packetSize, int format);
  // Frees the buffers (shutdown).
  void Release();
  // Clears the dropped-sample count of one slot at a start (under the assembly lock): the run's
  // first sample is compared with nothing, so it never counts as a drop.
  void ClearDropped(int slot) {
    dropped_[static_cast<std::size_t>(slot)] = 0;
    counterKnown_[static_cast<std::size_t>(slot)] = false;
  }
  // At bring-up: forgets the counters compared against.
  void ClearCounters();
  // Forgets the packets announced but not yet taken (at stop).
  void ClearPending();

  // Handles one announced packet of `slot` at `position`. `hold` keeps a newly announced packet
  // from being taken at once. Returns true when the packet was the first of its slot in the
  // current frame (the caller's ordering test runs then).
  bool Announce(int slot, int position, bool hold, const PacketSource& source, int format);
  // After Announce: aligns the amplifiers and completes the frame when they agree. Only when
  // `deliver` is set is the frame copied into the ring and counted there, so the ring never
  // hands out a frame that was not written. Returns the ring index of the delivered frame, or -1.
  int TryComplete(const PacketSource& source, int format, bool deliver,
                  const std::array<int, kMaxAmplifiers>& positionOfSlot);

  // Entry of the scratch frame (the ordering test reads the vertical force of a packet).
  float Scratch(int index) const;
  FrameRing& Ring() { return ring_; }
  const FrameRing& Ring() const { return ring_; }
  // Samples an amplifier lost (gaps in its sample counter). Frames the caller did not take in
  // time are not among them: the ring counts those as overruns.
  int Dropped(int slot) const { return dropped_[static_cast<std::size_t>(slot)].load(); }
  int DeviceCount() const { return deviceCount_; }
  // Packets discarded this run because their frame number could not be ordered against the
  // other amplifiers'.
  int Incomparable() const { return incomparable_; }

 private:
  void Take(int slot, int position, const PacketSource& source, int format);
  std::int32_t Convert(int slot, int position, int ringIndex, const PacketSource& source,
                       int format);
  void CountDrop(int slot, std::int32_t counter);
  // Counts and logs a packet discarded because its frame number cannot be ordered against `latest`.
  [[gnu::cold, gnu::noinline]] void CountIncomparable(int slot, std::int32_t latest,
                                                      std::int32_t frameNumber);
  // The rare case of CountDrop, kept out of line: counts the gap and logs it.
  [[gnu::cold, gnu::noinline]] void CountGap(int slot, std::int32_t previous, std::int32_t counter);
  int EffectiveFormat(int format) const;

  int deviceCount_ = 0;
  int incomparable_ = 0;
  int samplesPerPacket_ = 0;
  int builtRecordValues_ = 0;  // W of the format the buffers were built for
  int builtFormat_ = kFormatRecords;
  std::vector<float> scratch_;
  FrameRing ring_;

  std::array<int, kMaxAmplifiers> have_{};
  std::array<int, kMaxAmplifiers> pending_{};
  std::array<int, kMaxAmplifiers> readIndex_{};
  std::array<std::int32_t, kMaxAmplifiers> frameNumber_{};
  std::array<std::atomic<int>, kMaxAmplifiers> dropped_{};
  std::array<std::int32_t, kMaxAmplifiers> lastCounter_{};
  // Whether lastCounter_ holds a counter of the current run.
  std::array<bool, kMaxAmplifiers> counterKnown_{};
};

}  // namespace torva
