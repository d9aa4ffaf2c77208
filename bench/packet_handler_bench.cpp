// The packet handler's cost per packet for 1, 4 and 25 amplifiers, without the emulator: packets
// come from prepared device rings, one amplifier after the other, and every N-th completes a
// frame that is copied into the ring once.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "driver/control/frame_assembler.h"
#include "driver/device/streaming_packet.h"

namespace {

using torva::FrameAssembler;
using torva::kRingEntries;

constexpr int kPacketBytes = 512;

// One prepared packet per ring slot and amplifier, counters rising by 16 per slot.
class PreparedRings : public torva::PacketSource {
 public:
  explicit PreparedRings(int amplifiers) : packets_(static_cast<std::size_t>(amplifiers)) {
    for (int amplifier = 0; amplifier < amplifiers; ++amplifier) {
      auto& ring = packets_[static_cast<std::size_t>(amplifier)];
      ring.resize(static_cast<std::size_t>(kRingEntries) * kPacketBytes);
      for (int slot = 0; slot < kRingEntries; ++slot) {
        torva::StreamingPacket packet{};
        for (int s = 0; s < 16; ++s) {
          packet.samples[s].counter = 1 + slot * 16 + s;
          for (int c = 0; c < 6; ++c) packet.samples[s].channels[c] = static_cast<float>(c + s);
        }
        std::memcpy(ring.data() + static_cast<std::size_t>(slot) * kPacketBytes, &packet, kPacketBytes);
      }
    }
  }
  const std::uint8_t* Packet(int slot, int ringIndex, int& packetSize) const override {
    packetSize = kPacketBytes;
    return packets_[static_cast<std::size_t>(slot)].data() +
           static_cast<std::size_t>(ringIndex) * kPacketBytes;
  }

 private:
  std::vector<std::vector<std::uint8_t>> packets_;
};

void PacketHandler(benchmark::State& state) {
  const int amplifiers = static_cast<int>(state.range(0));
  PreparedRings rings(amplifiers);
  FrameAssembler assembler;
  assembler.Reset(amplifiers, kPacketBytes, torva::kFormatRecords);
  std::array<int, torva::kMaxAmplifiers> positions{};
  for (int slot = 0; slot < torva::kMaxAmplifiers; ++slot) positions[static_cast<std::size_t>(slot)] = slot;

  int slot = 0;
  int packetsInRing = 0;
  for (auto _ : state) {
    assembler.Announce(slot, slot, false, rings, torva::kFormatRecords);
    benchmark::DoNotOptimize(assembler.TryComplete(rings, torva::kFormatRecords, true, positions));
    if (++slot == amplifiers) {
      slot = 0;
      // Keep the frame ring from filling: the caller takes frames as they come.
      const float* frame = nullptr;
      assembler.Ring().TakeFloats(frame);
      // The prepared rings hold 625 packets per amplifier: start over before they run out,
      // with counters that again follow the last ones.
      if (++packetsInRing == kRingEntries) {
        state.PauseTiming();
        assembler.Reset(amplifiers, kPacketBytes, torva::kFormatRecords);
        assembler.ClearCounters();
        packetsInRing = 0;
        state.ResumeTiming();
      }
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["values_per_frame"] = assembler.Ring().ValuesPerFrame();
}

BENCHMARK(PacketHandler)->Arg(1)->Arg(4)->Arg(25);

}  // namespace

BENCHMARK_MAIN();
