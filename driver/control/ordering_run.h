#pragma once
// A platform-ordering run: while it is active, each plate whose vertical force first reaches its
// threshold is given the next position. The run completes when every amplifier has a position;
// the control thread then adopts the new order, unless the run was cancelled or started again in
// between, in which case the previous order stays. So the platform order is always a permutation.
//
// Threads: every member runs under the assembly lock (the packet handler's load test, the control
// thread's adoption, the caller's start and cancel), except Active and Complete, which any thread
// may read.

#include <array>
#include <atomic>
#include <optional>

#include "driver/control/control_limits.h"

namespace torva {

class OrderingRun {
 public:
  using Order = std::array<int, kMaxAmplifiers>;
  static constexpr int kFree = -1;

  // Starts a run over `count` amplifiers while data format `format` is in force. A run started
  // while another has not ended keeps the format from before the first.
  void Start(int count, int format);
  // The load test for one packet of `slot`: `loaded` when its plate carries the threshold;
  // `sameAmplifier(orderedSlot)` tells whether an already ordered slot is this same amplifier.
  // Returns true when this load completed the run.
  template <typename SameAmplifier>
  bool Load(int slot, bool loaded, SameAmplifier sameAmplifier);

  // What the control thread adopts when the completion message arrives: the new order and the
  // format to restore; nothing when the run was cancelled or restarted since it completed.
  struct Completion {
    Order order;
    int format;
  };
  std::optional<Completion> TakeCompletion();
  // Abandons the run: the format to restore when a run was active or completed but not yet
  // adopted (it then no longer counts as complete), else nothing.
  std::optional<int> Cancel();
  // Forgets every run (bring-up).
  void Clear();

  bool Active() const { return active_.load(); }
  bool Complete() const { return complete_.load(); }

 private:
  Order newOrder_ = FreeOrder();
  int count_ = 0;
  int ordered_ = 0;
  int formatBefore_ = 0;
  bool awaitingAdoption_ = false;
  std::atomic<bool> active_{false};
  std::atomic<bool> complete_{false};

  static Order FreeOrder() {
    Order order;
    order.fill(kFree);
    return order;
  }
};

template <typename SameAmplifier>
bool OrderingRun::Load(int slot, bool loaded, SameAmplifier sameAmplifier) {
  if (!active_.load()) return false;
  if (loaded) {
    // A plate is ordered once, even when it is loaded again.
    bool known = false;
    int free = kFree;
    for (int i = 0; i < count_; ++i) {
      const int entry = newOrder_[static_cast<std::size_t>(i)];
      if (entry == kFree) {
        if (free == kFree) free = i;
      } else if (entry == slot || sameAmplifier(entry)) {
        known = true;
      }
    }
    if (!known && free != kFree) {
      newOrder_[static_cast<std::size_t>(free)] = slot;
      ++ordered_;
    }
  }
  if (ordered_ < count_) return false;
  active_ = false;
  complete_ = true;
  awaitingAdoption_ = true;
  return true;
}

}  // namespace torva
