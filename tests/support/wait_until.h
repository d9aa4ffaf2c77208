#pragma once
// Waits for a condition that another thread will make true, with a generous limit so that a
// slow machine does not fail the test, and an answer as soon as the condition holds.

#include <chrono>
#include <thread>

namespace torva::testing {

template <typename Predicate>
bool WaitUntil(Predicate condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace torva::testing
