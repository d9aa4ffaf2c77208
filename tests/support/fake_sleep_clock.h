#pragma once
// Replaces the prescribed pauses of the libraries with a record of them while a test runs.

#include <atomic>
#include <chrono>

#include "platform/sleep_clock.h"

namespace torva::testing {

class FakeSleepClock : public platform::SleepClock {
 public:
  FakeSleepClock() { platform::InstallSleepClock(this); }
  ~FakeSleepClock() override { platform::InstallSleepClock(nullptr); }
  void SleepFor(std::chrono::milliseconds duration) override {
    sleptMilliseconds += duration.count();
    ++sleeps;
  }
  std::atomic<long long> sleptMilliseconds{0};
  std::atomic<int> sleeps{0};
};

}  // namespace torva::testing
