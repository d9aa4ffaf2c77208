#pragma once
// The amplifier's streaming packet: one bulk IN transfer on kDataEndpoint of 16 samples, each a
// sample counter, the six channel values Fx, Fy, Fz, Mx, My, Mz and an auxiliary word.

#include <cstddef>
#include <cstdint>

#include "driver/device/device_runtime_block.h"

namespace torva {

inline constexpr std::size_t kChannelCount = 6;
inline constexpr std::size_t kSamplesPerPacket = 16;
// Sample counters count modulo 2^24 (the range a float holds exactly).
inline constexpr std::int64_t kSampleCounterModulus = std::int64_t{1} << 24;

#pragma pack(push, 1)
struct StreamingSample {
  std::int32_t counter;           // rises by 1 per sample
  float channels[kChannelCount];  // Fx, Fy, Fz in newtons; Mx, My, Mz in newton-metres
  std::int32_t auxiliary;         // trigger level and other auxiliary input
};

struct StreamingPacket {
  StreamingSample samples[kSamplesPerPacket];
};
#pragma pack(pop)

inline constexpr std::size_t kStreamingSampleBytes = sizeof(StreamingSample);
inline constexpr std::size_t kStreamingPacketBytes = sizeof(StreamingPacket);

static_assert(kStreamingSampleBytes == 32);
static_assert(offsetof(StreamingSample, channels) == 4);
static_assert(offsetof(StreamingSample, auxiliary) == 28);
static_assert(kStreamingPacketBytes == 512);
static_assert(kStreamingPacketBytes == static_cast<std::size_t>(kDefaultPacketSize));

}  // namespace torva
