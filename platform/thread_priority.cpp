#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>

#include <cstdlib>

namespace torva::platform {
namespace {

bool RealtimeDisabled() {
  const char* value = std::getenv("TORVA_NO_REALTIME");
  return value != nullptr && value[0] != '\0';
}

// Real-time priority levels above the minimum, per priority class.
int RealtimeLevel(ThreadPriority priority) {
  const int lowest = sched_get_priority_min(SCHED_FIFO);
  switch (priority) {
    case ThreadPriority::kAboveNormal: return lowest;
    case ThreadPriority::kHighest: return lowest + 1;
    case ThreadPriority::kTimeCritical: return lowest + 2;
    case ThreadPriority::kNormal: break;
  }
  return 0;
}

}  // namespace

bool ApplyPriorityToCurrentThread(ThreadPriority priority) {
  // Only time-critical threads ask for real-time scheduling; the others stay with the default
  // policy, which already shares the processor fairly.
  if (priority != ThreadPriority::kTimeCritical) return true;
  if (RealtimeDisabled()) return false;
  sched_param param{};
  param.sched_priority = RealtimeLevel(priority);
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace torva::platform
