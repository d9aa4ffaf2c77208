// An amplifier that answers slowly, or not at all, never holds up the caller: stop and shutdown
// hand their work to the device threads and return, and shutdown ends the transfers still waiting.

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/emulated_library.h"

namespace torva {
namespace {

using testing::EmulatedLibrary;
using testing::WaitUntil;
using Clock = std::chrono::steady_clock;

// The emulator holds a reply for up to ten seconds; a call that waited for one would take that
// long. Anything well below it shows the call did not wait.
constexpr auto kPrompt = std::chrono::seconds(4);

template <typename Call>
Clock::duration Timed(Call call) {
  const auto start = Clock::now();
  call();
  return Clock::now() - start;
}

class SlowAmplifier : public EmulatedLibrary {};

TEST_F(SlowAmplifier, StopAndShutdownReturnWhileRepliesAreHeld) {
  BringUp(2);
  fmBroadcastStart();
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).Streaming() && Amplifier(1).Streaming(); }));
  Amplifier(0).SetRepliesHeld(true);
  Amplifier(1).SetRepliesHeld(true);
  // A setting stops amplifier 0 first; the reply to that Stop is held, so its device thread now
  // waits in the reply request.
  fmDLLSelectDeviceIndex(0);
  fmSetBlink();
  ASSERT_TRUE(WaitUntil([&] { return Commands(0).back() == 179; }));

  EXPECT_LT(Timed([] { fmBroadcastStop(); }), kPrompt);
  EXPECT_LT(Timed([] { fmDLLShutDown(); }), kPrompt);
  EXPECT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }, kPrompt));
}

}  // namespace
}  // namespace torva
