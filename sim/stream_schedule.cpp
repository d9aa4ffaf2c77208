#include "sim/stream_schedule.h"

#include <algorithm>

#include "driver/device/streaming_packet.h"

namespace torva::sim {
namespace {
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
}  // namespace

void StreamSchedule::Start(SteadyTime begin, std::int32_t rate,
                           std::chrono::nanoseconds firstPacketDelay) {
  running_ = true;
  begin_ = begin;
  rate_ = std::clamp(rate, kMinRate, kMaxRate);
  nextPacket_ = 0;
  notBefore_ = begin;
  notBefore_ = PacketDue(0) + firstPacketDelay;
}

SteadyTime StreamSchedule::PacketDue(std::int64_t packet) const {
  const std::int64_t samples = (packet + 1) * static_cast<std::int64_t>(kSamplesPerPacket);
  // Whole seconds and the remainder separately, so the product cannot overflow in long runs.
  const std::int64_t seconds = samples / rate_;
  const std::int64_t rest = samples % rate_;
  const auto due = begin_ + std::chrono::seconds(seconds) +
                   std::chrono::nanoseconds(rest * kNanosecondsPerSecond / rate_);
  return std::max(due, notBefore_);
}

double StreamSchedule::SampleSeconds(std::int64_t index) const {
  return static_cast<double>(index) / static_cast<double>(rate_);
}

}  // namespace torva::sim
