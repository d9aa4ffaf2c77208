#pragma once
// Takes the libraries' prescribed pauses for a tenth of their length (or another scale), so that
// code that polls real threads still gives them time, and records every pause for the test.

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sleep_clock.h"

namespace torva::testing {

class ScaledSleepClock : public platform::SleepClock {
 public:
  explicit ScaledSleepClock(int divisor = 10) : divisor_(divisor) {
    platform::InstallSleepClock(this);
  }
  ~ScaledSleepClock() override { platform::InstallSleepClock(nullptr); }
  void SleepFor(std::chrono::milliseconds duration) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pauses_.push_back(duration);
    }
    std::this_thread::sleep_for(duration / divisor_);
  }
  // The pauses taken so far, in order, at their prescribed length.
  std::vector<std::chrono::milliseconds> Pauses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.clear();
  }

 private:
  const int divisor_;
  mutable std::mutex mutex_;
  std::vector<std::chrono::milliseconds> pauses_;
};

}  // namespace torva::testing
