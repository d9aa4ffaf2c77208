#pragma once
// Thread priorities. Time-critical threads get real-time (FIFO) scheduling where the process is
// allowed it and stay at normal scheduling, without complaint, where it is not. Setting the
// environment variable TORVA_NO_REALTIME to a non-empty value keeps every thread at normal
// scheduling (useful on a shared machine). No thread of this project busy-waits, so a real-time
// thread always yields the processor while it has nothing to do.

namespace torva::platform {

enum class ThreadPriority {
  kNormal,
  kAboveNormal,
  kHighest,
  kTimeCritical,
};

// Applies the priority to the calling thread; true when the scheduler granted it.
bool ApplyPriorityToCurrentThread(ThreadPriority priority);

}  // namespace torva::platform
