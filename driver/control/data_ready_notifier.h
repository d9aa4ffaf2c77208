#pragma once
// DataReadyNotifier: where and whether the library announces each completed frame to the caller
// (a thread message or a window message carrying the frame-ring index).
//
// Threads: the caller's thread sets the flag and the target through the exported functions; the
// control thread's packet handler calls Notify. Every field is atomic; a frame completed while
// the target changes goes to the old target or the new one.

#include <atomic>

#include "platform/messages.h"

namespace torva {

// Where data-ready notifications go.
enum class NotifyTarget : int { kNone = 0, kThread = 1, kWindow = 2 };

class DataReadyNotifier {
 public:
  void SetFlag(int flag) { flag_ = flag != 0 ? 1 : 0; }
  int Flag() const { return flag_.load(); }
  void NotifyThread(platform::ThreadId thread);
  void NotifyWindow(platform::WindowHandle window);
  NotifyTarget Target() const { return static_cast<NotifyTarget>(kind_.load()); }
  // Announces the frame at `ringIndex` to the target, while the flag is set.
  void Notify(int ringIndex) const;

 private:
  std::atomic<int> flag_{0};
  std::atomic<int> kind_{static_cast<int>(NotifyTarget::kNone)};
  std::atomic<platform::ThreadId> thread_{0};
  std::atomic<platform::WindowHandle> window_{nullptr};
};

}  // namespace torva
