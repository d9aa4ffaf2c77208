#pragma once
// Waits for a condition that another thread will make true, with a limit wide enough for a loaded
// two-core machine (30 s by default), and an answer as soon as the condition holds.

#include <chrono>
#include <thread>

namespace torva::testing {

template <typename Predicate>
bool WaitUntil(Predicate condition, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace torva::testing
