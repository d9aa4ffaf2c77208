// How long stop and shutdown take while every amplifier holds its replies (a slow amplifier, or
// one that has stopped answering): the caller must not wait for the amplifiers.
//   bench_held_replies [amplifiers] [repeats]
// Prints, per repeat, the time fmBroadcastStop and fmDLLShutDown took to return and the time
// until fmIsDLLShutDown reported the library ended (all its threads gone).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_support.h"
#include "sim/emulated_bus.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int amplifiers = argc > 1 ? std::atoi(argv[1]) : 4;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  if (amplifiers < 1 || amplifiers > 25 || repeats < 1) {
    std::fprintf(stderr, "usage: bench_held_replies [amplifiers 1..25] [repeats]\n");
    return 2;
  }
  double worstStop = 0, worstShutDown = 0, worstEnded = 0;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    if (!torva::bench::PrepareStreaming(amplifiers, 1000)) return 1;
    fmBroadcastStart();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (const auto& amplifier : torva::sim::EmulatedBus::Instance().PresentDevices())
      amplifier->SetRepliesHeld(true);
    // A setting stops the first amplifier, whose device thread then waits for the held reply.
    fmDLLSelectDeviceIndex(0);
    fmSetBlink();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    auto start = Clock::now();
    fmBroadcastStop();
    const double stop = Milliseconds(Clock::now() - start);
    start = Clock::now();
    fmDLLShutDown();
    const double shutDown = Milliseconds(Clock::now() - start);
    while (fmIsDLLShutDown() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double ended = Milliseconds(Clock::now() - start);
    for (const auto& amplifier : torva::sim::EmulatedBus::Instance().PresentDevices())
      amplifier->SetRepliesHeld(false);
    std::printf("repeat %d: fmBroadcastStop %.1f ms, fmDLLShutDown %.1f ms, library ended after %.1f ms\n",
                repeat + 1, stop, shutDown, ended);
    worstStop = std::max(worstStop, stop);
    worstShutDown = std::max(worstShutDown, shutDown);
    worstEnded = std::max(worstEnded, ended);
  }
  std::printf("%d amplifiers holding their replies, worst of %d: fmBroadcastStop %.1f ms, "
              "fmDLLShutDown %.1f ms, library ended %.1f ms\n",
              amplifiers, repeats, worstStop, worstShutDown, worstEnded);
  return 0;
}
