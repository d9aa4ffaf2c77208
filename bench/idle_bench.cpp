// CPU of a process whose library has brought 25 emulated amplifiers up but does not stream.
//   bench_idle [seconds=10] [amplifiers=25]

#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.h"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const int amplifiers = argc > 2 ? std::atoi(argv[2]) : 25;
  if (!torva::bench::BringUpEmulated(amplifiers)) {
    std::fprintf(stderr, "bring-up failed\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the bring-up's replies settle
  const double before = torva::bench::ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double used = torva::bench::ProcessCpuSeconds() - before;
  std::printf("amplifiers   %d, initialised, not streaming, for %.0f s\n", amplifiers, seconds);
  std::printf("idle CPU     %.2f%% of one core\n", 100.0 * used / seconds);
  torva::bench::ShutDown();
  return 0;
}
