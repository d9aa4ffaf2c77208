#include "platform/sleep_clock.h"

#include <atomic>
#include <thread>

namespace torva::platform {
namespace {

SystemSleepClock g_systemClock;
std::atomic<SleepClock*> g_activeClock{&g_systemClock};

}  // namespace

void SystemSleepClock::SleepFor(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

SleepClock& ActiveSleepClock() { return *g_activeClock.load(std::memory_order_acquire); }

SleepClock* InstallSleepClock(SleepClock* clock) {
  SleepClock* previous = g_activeClock.exchange(clock ? clock : &g_systemClock);
  return previous == &g_systemClock ? nullptr : previous;
}

void PrescribedSleep(std::chrono::milliseconds duration) { ActiveSleepClock().SleepFor(duration); }

}  // namespace torva::platform
