#include "driver/control/ordering_run.h"

namespace torva {

void OrderingRun::Start(int count, int format) {
  if (!active_.load() && !awaitingAdoption_) formatBefore_ = format;
  newOrder_ = FreeOrder();
  count_ = count < 0 ? 0 : (count > kMaxAmplifiers ? kMaxAmplifiers : count);
  ordered_ = 0;
  awaitingAdoption_ = false;
  complete_ = false;
  active_ = true;
}

std::optional<OrderingRun::Completion> OrderingRun::TakeCompletion() {
  if (!awaitingAdoption_) return std::nullopt;
  awaitingAdoption_ = false;
  return Completion{newOrder_, formatBefore_};
}

std::optional<int> OrderingRun::Cancel() {
  bool abandoned = active_.exchange(false);
  if (awaitingAdoption_) {
    awaitingAdoption_ = false;
    complete_ = false;
    abandoned = true;
  }
  newOrder_ = FreeOrder();
  if (!abandoned) return std::nullopt;
  return formatBefore_;
}

void OrderingRun::Clear() {
  newOrder_ = FreeOrder();
  count_ = 0;
  ordered_ = 0;
  awaitingAdoption_ = false;
  active_ = false;
  complete_ = false;
}

}  // namespace torva
