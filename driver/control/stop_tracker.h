#pragma once
// StopTracker: which amplifiers have acknowledged the latest broadcast stop, behind
// fmDLLGetStopCommandFlag, and how many stop replies arrived since the parameters were last read.
//
// Threads: every field is atomic. The broadcasts run on the caller's thread; acknowledgements and
// lost amplifiers are recorded by the control thread's handlers; any thread may read.

#include <array>
#include <atomic>
#include <cstdint>

#include "driver/control/control_limits.h"

namespace torva {

class StopTracker {
 public:
  // A broadcast start: the flag reads 0 until the next stop is acknowledged.
  void BeginStart();
  // A broadcast stop; `alreadyStopped` names (one bit per slot) the amplifiers that got no stop
  // because they were not streaming, and so have nothing to acknowledge.
  void BeginStop();
  void AlreadyStopped(std::uint32_t slots) { acknowledged_ |= slots; }
  // An amplifier's stop reply arrived.
  void Acknowledge(int slot);
  // An amplifier left the bus: it has no stop left to acknowledge.
  void Lost(int slot) { acknowledged_ |= 1u << slot; }
  void ClearReplyCount() { replies_ = 0; }
  int ReplyCount() const { return replies_.load(); }
  // Whether the latest broadcast was a stop (rather than a start).
  bool StopBroadcast() const { return lastBroadcastWasStop_.load(); }
  // 1 once every slot of `order[0..count-1]` has acknowledged the latest broadcast stop; 0 while
  // one has not, and from the next start or stop until then.
  int Flag(const std::array<int, kMaxAmplifiers>& order, int count) const;

 private:
  std::atomic<std::uint32_t> acknowledged_{0};
  std::atomic<bool> lastBroadcastWasStop_{false};
  std::atomic<int> replies_{0};
};

}  // namespace torva
