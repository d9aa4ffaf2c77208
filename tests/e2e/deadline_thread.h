#pragma once
// A thread that runs a service function whenever it is kicked and whenever the time the function
// last asked for arrives. In between it sleeps on a condition variable: it never polls. The
// testbed uses it to complete bulk reads when the emulated amplifier's next packet is due.
//
// Threads: Kick may be called from any thread, also from within the service function.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace torva::e2e {

using SteadyTime = std::chrono::steady_clock::time_point;

class DeadlineThread {
 public:
  // `service(now)` does what is due at `now` and returns when it wants to run next (none: only
  // when kicked).
  using Service = std::function<std::optional<SteadyTime>(SteadyTime now)>;

  explicit DeadlineThread(Service service);
  DeadlineThread(const DeadlineThread&) = delete;
  DeadlineThread& operator=(const DeadlineThread&) = delete;
  // Stops the thread and waits for it.
  ~DeadlineThread();

  // Makes the service run again soon, whatever it asked for last.
  void Kick();

 private:
  void Run();

  const Service service_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool kicked_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace torva::e2e
