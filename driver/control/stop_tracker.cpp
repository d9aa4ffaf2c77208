#include "driver/control/stop_tracker.h"

namespace torva {

void StopTracker::BeginStart() {
  lastBroadcastWasStop_ = false;
  acknowledged_ = 0;
}

void StopTracker::BeginStop() {
  lastBroadcastWasStop_ = true;
  acknowledged_ = 0;
}

void StopTracker::Acknowledge(int slot) {
  ++replies_;
  acknowledged_ |= 1u << slot;
}

int StopTracker::Flag(const std::array<int, kMaxAmplifiers>& order, int count) const {
  if (!StopBroadcast()) return 0;
  const std::uint32_t acknowledged = acknowledged_.load();
  for (int position = 0; position < count; ++position) {
    const int slot = order[static_cast<std::size_t>(position)];
    if (slot >= 0 && (acknowledged & (1u << slot)) == 0) return 0;
  }
  return 1;
}

}  // namespace torva
