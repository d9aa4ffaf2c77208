#pragma once
// The one clock through which the libraries take their prescribed pauses (the wait after a stop
// before shutdown, the pause between boot-load chunks, ...). The shipped libraries use real sleeps;
// a test installs its own clock so that the suite does not wait out those pauses.

#include <chrono>

namespace torva::platform {

class SleepClock {
 public:
  virtual ~SleepClock() = default;
  virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

// Sleeps for real.
class SystemSleepClock final : public SleepClock {
 public:
  void SleepFor(std::chrono::milliseconds duration) override;
};

// The clock in force (the system clock unless a test installed another).
SleepClock& ActiveSleepClock();
// Installs a clock (nullptr restores the system clock); returns the one it replaces.
// The caller keeps ownership and must keep it alive while it is installed.
SleepClock* InstallSleepClock(SleepClock* clock);

// Shorthand for ActiveSleepClock().SleepFor(duration).
void PrescribedSleep(std::chrono::milliseconds duration);

}  // namespace torva::platform
