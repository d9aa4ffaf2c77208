// libFuzzer target: the frame assembler fed packets of 1..4 amplifiers in any order, with sample
// counters that run on, skip ahead, step back or jump across the wrap as the input says. Every
// delivered frame holds packets of one frame number at every position; while no counter steps
// back, frame numbers handed out strictly increase; every frame completed is either still
// waiting in the ring, taken, or counted as an overrun; and an amplifier never loses more samples
// than it sent (none in the layout without counters).

#include <array>
#include <cstring>
#include <vector>

#include "driver/control/frame_assembler.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "driver/device/streaming_packet.h"
#include "tests/fuzz/fuzz_support.h"

using namespace torva;

namespace {

constexpr int kMaxFuzzAmplifiers = 4;
constexpr int kFormats = 3;
constexpr int kPacketBytes = static_cast<int>(kStreamingPacketBytes);
constexpr int kSamples = static_cast<int>(kSamplesPerPacket);
// What a step byte asks for, by range.
constexpr unsigned kRunOnBelow = 150;   // the next packet
constexpr unsigned kSkipBelow = 200;    // skip (byte - 149) packets: a gap
constexpr unsigned kBackBelow = 215;    // step back (byte - 199) packets
constexpr unsigned kTakeBelow = 245;    // the caller takes a frame instead of a packet arriving
constexpr std::int64_t kJumpStep = 3000000;  // beyond: jump ahead by a multiple of this

// The devices' data rings: each announced packet goes to the slot's next ring index, where the
// assembler reads it.
class Devices : public PacketSource {
 public:
  Devices() {
    for (auto& ring : rings_) ring.assign(static_cast<std::size_t>(kRingEntries) * kPacketBytes, 0);
  }
  // A new run: every ring is written from its start again, as after a start of acquisition.
  void Restart() { next_.fill(0); }
  void Put(int slot, std::int32_t first) {
    StreamingPacket packet{};
    for (int s = 0; s < kSamples; ++s) {
      packet.samples[s].counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(first) +
                                                            static_cast<std::uint32_t>(s));
      // Fx of every sample carries the frame number bit for bit, so a delivered frame shows
      // which packet stands at each position.
      std::memcpy(&packet.samples[s].channels[0], &first, sizeof first);
    }
    auto& next = next_[static_cast<std::size_t>(slot)];
    std::memcpy(rings_[static_cast<std::size_t>(slot)].data() + static_cast<std::size_t>(next) * kPacketBytes,
                &packet, sizeof packet);
    next = (next + 1) % kRingEntries;
  }
  const std::uint8_t* Packet(int slot, int ringIndex, int& packetSize) const override {
    packetSize = kPacketBytes;
    return rings_[static_cast<std::size_t>(slot)].data() + static_cast<std::size_t>(ringIndex) * kPacketBytes;
  }

 private:
  std::array<std::vector<std::uint8_t>, kMaxFuzzAmplifiers> rings_;
  std::array<int, kMaxFuzzAmplifiers> next_{};
};

std::int32_t FrameNumberAt(const float* frame, const TorvaFrameLayout& layout, int position) {
  std::int32_t number;
  std::memcpy(&number, frame + torva_frame_channel(layout, 0, position, 0), sizeof number);
  return number;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 + kMaxFuzzAmplifiers) return 0;
  const int devices = data[0] % kMaxFuzzAmplifiers + 1;
  const int format = (data[0] / kMaxFuzzAmplifiers) % kFormats;
  const TorvaFrameLayout layout = {format, devices};

  static Devices source;  // large: built once, every run writes before it reads
  source.Restart();
  // One assembler for every run, started afresh as at each start of acquisition (its ring keeps
  // its storage while the geometry stays the same).
  static FrameAssembler assembler;
  assembler.Reset(devices, kPacketBytes, format);
  assembler.ClearCounters();
  std::array<int, kMaxAmplifiers> positionOfSlot{};
  std::array<std::int64_t, kMaxFuzzAmplifiers> nextFirst{};
  std::array<int, kMaxFuzzAmplifiers> packetsSent{};
  for (int slot = 0; slot < kMaxAmplifiers; ++slot) positionOfSlot[static_cast<std::size_t>(slot)] = slot;
  // The amplifiers start close together, as they do after a common start.
  for (int slot = 0; slot < devices; ++slot)
    nextFirst[static_cast<std::size_t>(slot)] = std::int64_t{data[1 + slot]} * kSamples;

  bool steppedBack = false;
  bool anyDelivered = false;
  std::int32_t lastDelivered = 0;
  int completed = 0;
  int taken = 0;
  for (std::size_t at = 1 + kMaxFuzzAmplifiers; at + 1 < size; at += 2) {
    const int slot = data[at] % devices;
    const unsigned step = data[at + 1];
    auto& first = nextFirst[static_cast<std::size_t>(slot)];
    if (step < kTakeBelow && step >= kBackBelow) {
      const float* frame = nullptr;
      if (assembler.Ring().TakeFloats(frame) > 0) ++taken;
      continue;
    }
    if (step >= kRunOnBelow && step < kSkipBelow) first += std::int64_t{step - kRunOnBelow + 1} * kSamples;
    if (step >= kSkipBelow && step < kBackBelow) {
      first -= std::int64_t{step - kSkipBelow + 1} * kSamples;
      steppedBack = true;
    }
    if (step >= kTakeBelow) {
      first += std::int64_t{step - kTakeBelow + 1} * kJumpStep;
      steppedBack = true;  // far jumps wrap the comparison: order is no longer known
    }
    const auto counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(first));
    source.Put(slot, counter);
    ++packetsSent[static_cast<std::size_t>(slot)];
    first += kSamples;

    assembler.Announce(slot, slot, false, source, format);
    const int index = assembler.TryComplete(source, format, true, positionOfSlot);
    if (index < 0) continue;
    ++completed;
    const float* frame = assembler.Ring().Entry(index);
    const std::int32_t number = FrameNumberAt(frame, layout, 0);
    for (int position = 1; position < devices; ++position)
      FUZZ_CHECK(FrameNumberAt(frame, layout, position) == number,
                 "a delivered frame holds one frame number at every position");
    if (anyDelivered && !steppedBack)
      FUZZ_CHECK(FrameAssembler::Later(number, lastDelivered), "frame numbers strictly increase");
    anyDelivered = true;
    lastDelivered = number;
  }

  FUZZ_CHECK(completed == taken + assembler.Ring().Available() + assembler.Ring().Overruns(),
             "every completed frame is waiting, taken or counted as an overrun");
  for (int slot = 0; slot < devices; ++slot) {
    const int dropped = assembler.Dropped(slot);
    FUZZ_CHECK(dropped >= 0 && dropped <= packetsSent[static_cast<std::size_t>(slot)] * kSamples,
               "an amplifier loses no more samples than it sent");
    if (format == kFormatChannels) FUZZ_CHECK(dropped == 0, "no counters, no losses counted");
  }
  return 0;
}
