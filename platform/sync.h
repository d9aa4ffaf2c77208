#pragma once
// Locks and events with the semantics the driver's threads expect: a critical section may be
// entered again by the thread that holds it, and an event is either auto-reset (one waiter
// released per Set) or manual-reset (stays set until Reset).

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace torva::platform {

class CriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void Leave() { mutex_.unlock(); }
  // Standard Lockable names, so std::lock_guard and std::unique_lock work.
  void lock() { Enter(); }
  bool try_lock() { return TryEnter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

using CriticalSectionLock = std::lock_guard<CriticalSection>;

class Event {
 public:
  enum class Reset { kAuto, kManual };
  explicit Event(Reset reset = Reset::kAuto, bool initiallySet = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void ResetEvent();
  // True when the event was set within the limit (an auto-reset event is then cleared again).
  bool Wait(std::chrono::nanoseconds limit);
  void Wait();
  bool IsSet() const;

 private:
  const Reset reset_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool set_;
};

}  // namespace torva::platform
