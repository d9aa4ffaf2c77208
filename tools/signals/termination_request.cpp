#include "tools/signals/termination_request.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace torva::tools {
namespace {

std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler must not take a lock");

void OnTermination(int signal) {
  int none = 0;
  if (!requested.compare_exchange_strong(none, signal)) ::_exit(TerminationStatus(signal));
}

}  // namespace

void InstallTerminationHandlers() {
  struct sigaction action {};
  action.sa_handler = OnTermination;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int TerminationSignal() { return requested.load(); }

const char* TerminationSignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "a signal";
  }
}

}  // namespace torva::tools
