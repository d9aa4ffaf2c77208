#pragma once
// When an emulated amplifier's streaming packets are due. Sampling begins at `begin`; sample i is
// taken at begin + i / rate and packet k (samples 16k .. 16k+15) leaves once its last sample is
// in, at begin + 16 (k + 1) / rate. Every deadline is computed from `begin` and k alone, so the
// pace never drifts however late the packets are collected.

#include <chrono>
#include <cstdint>

namespace torva::sim {

using SteadyTime = std::chrono::steady_clock::time_point;

class StreamSchedule {
 public:
  // Acquisition rates the amplifier accepts; others are clamped into this range.
  static constexpr std::int32_t kMinRate = 10;
  static constexpr std::int32_t kMaxRate = 3000;

  // Starts a run. The first packet leaves `firstPacketDelay` later than due; packets due before
  // it then leave together (the amplifier holds them), so counters stay intact.
  void Start(SteadyTime begin, std::int32_t rate, std::chrono::nanoseconds firstPacketDelay);
  void Stop() { running_ = false; }
  bool Running() const { return running_; }

  std::int32_t Rate() const { return rate_; }
  SteadyTime Begin() const { return begin_; }
  // Index of the next packet to leave.
  std::int64_t NextPacket() const { return nextPacket_; }
  // When packet k may leave.
  SteadyTime PacketDue(std::int64_t packet) const;
  // Seconds from the start of sampling to sample `index`.
  double SampleSeconds(std::int64_t index) const;
  // Moves on to the next packet.
  void Advance() { ++nextPacket_; }
  // Loses the next `packets` packets: they are never sent and their counters are skipped.
  void Skip(std::int64_t packets) { nextPacket_ += packets; }

 private:
  bool running_ = false;
  SteadyTime begin_{};
  SteadyTime notBefore_{};
  std::int32_t rate_ = kMinRate;
  std::int64_t nextPacket_ = 0;
};

}  // namespace torva::sim
