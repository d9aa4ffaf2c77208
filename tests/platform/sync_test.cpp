#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/sleep_clock.h"
#include "platform/sync.h"

namespace torva::platform {
namespace {

TEST(Event, AutoResetReleasesOneWaitThenClears) {
  Event event(Event::Reset::kAuto);
  event.Set();
  EXPECT_TRUE(event.Wait(std::chrono::milliseconds(0)));
  EXPECT_FALSE(event.Wait(std::chrono::milliseconds(1)));
}

TEST(Event, ManualResetStaysSetUntilReset) {
  Event event(Event::Reset::kManual);
  event.Set();
  EXPECT_TRUE(event.Wait(std::chrono::milliseconds(0)));
  EXPECT_TRUE(event.IsSet());
  event.ResetEvent();
  EXPECT_FALSE(event.Wait(std::chrono::milliseconds(1)));
}

TEST(Event, SetFromAnotherThreadWakesAWaiter) {
  Event event;
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.Wait(std::chrono::hours(24)));
  setter.join();
}

TEST(CriticalSection, TheOwnerMayEnterAgainAndOthersWait) {
  CriticalSection section;
  section.Enter();
  section.Enter();
  std::atomic<bool> otherGotIn{true};
  std::thread([&] { otherGotIn = section.TryEnter(); }).join();
  EXPECT_FALSE(otherGotIn.load());
  section.Leave();
  section.Leave();
  std::thread([&] {
    otherGotIn = section.TryEnter();
    if (otherGotIn) section.Leave();
  }).join();
  EXPECT_TRUE(otherGotIn.load());
}

class CountingClock : public SleepClock {
 public:
  void SleepFor(std::chrono::milliseconds duration) override { total += duration; }
  std::chrono::milliseconds total{0};
};

TEST(SleepClock, AnInstalledClockTakesThePrescribedPausesUntilRemoved) {
  CountingClock clock;
  EXPECT_EQ(InstallSleepClock(&clock), nullptr);
  PrescribedSleep(std::chrono::milliseconds(250));
  PrescribedSleep(std::chrono::milliseconds(300));
  EXPECT_EQ(clock.total, std::chrono::milliseconds(550));
  EXPECT_EQ(InstallSleepClock(nullptr), &clock);
  EXPECT_NE(&ActiveSleepClock(), &clock);
}

}  // namespace
}  // namespace torva::platform
