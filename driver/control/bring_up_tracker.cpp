#include "driver/control/bring_up_tracker.h"

namespace torva {

void BringUpTracker::BeginRefresh() {
  refreshComplete_ = false;
  refreshRequested_ = true;
}

void BringUpTracker::BeginReading() {
  parameterReplies_ = 0;
  parametersAnswered_ = 0;
  waiting_ = true;
  smartPlateCheckPending_ = true;
}

void BringUpTracker::ParametersArrived(int slot) {
  ++parameterReplies_;
  parametersAnswered_ |= 1u << slot;
}

bool BringUpTracker::EveryAmplifierAnswered(int count) const {
  const std::uint32_t everySlot = count >= 32 ? ~0u : (1u << count) - 1u;
  return (parametersAnswered_.load() & everySlot) == everySlot;
}

bool BringUpTracker::FinishReading() {
  waiting_ = false;
  parameterReplies_ = 0;
  smartPlateCheckPending_ = false;
  const bool refreshing = refreshRequested_.exchange(false);
  if (refreshing) {
    initState_ = kDeviceInitComplete;
    refreshComplete_ = true;
  }
  return refreshing;
}

}  // namespace torva
