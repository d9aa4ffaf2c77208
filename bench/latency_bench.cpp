// Latency from the moment a device thread's bulk read returns a packet to the moment the
// application thread holds the completed frame (woken by the data-ready message), with 4
// emulated amplifiers at 1000 samples/s. A frame is complete when its last packet has arrived,
// so each frame's latency is measured from the latest of its packets' arrivals.
//   bench_latency [frames=10000] [amplifiers=4] [rate=1000] [consumer=normal|realtime]
// With "realtime" the application thread asks for the same time-critical priority as the
// library's threads, as a capture application would. Before the library runs, the same number of
// frames goes through two plain condition-variable hand-offs at the same pace and priorities (the
// floor this machine's scheduling sets); the library's p50 and p99 are printed beside the floor's
// and as ratios to it.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/frame_arrival.h"
#include "bench/handoff_floor.h"
#include "driver/api/usb_manager.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "driver/device/amplifier_device.h"
#include "platform/thread_priority.h"

using namespace torva;
using Clock = std::chrono::steady_clock;

using bench::Percentile;

int main(int argc, char** argv) {
  const int wanted = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int amplifiers = argc > 2 ? std::atoi(argv[2]) : 4;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 1000;
  const bool realtimeConsumer = argc > 4 && std::string(argv[4]) == "realtime";
  if (realtimeConsumer &&
      !platform::ApplyPriorityToCurrentThread(platform::ThreadPriority::kTimeCritical))
    std::fprintf(stderr, "real-time priority refused; the consumer stays at normal priority\n");
  // A frame of 16 samples completes every 16 / rate seconds.
  const auto framePeriod = std::chrono::microseconds(16 * 1000000 / std::max(rate, 1));
  const std::vector<double> floor = bench::HandOffFloor(wanted, framePeriod, realtimeConsumer);
  if (!bench::PrepareStreaming(amplifiers, rate)) return 1;
  fmBroadcastStart();

  const std::vector<double> latencies = bench::CollectFrameLatencies(wanted, amplifiers);
  fmBroadcastStop();
  std::printf("amplifiers   %d at %d samples/s, %s consumer thread\n", amplifiers, rate,
              realtimeConsumer ? "real-time" : "normal-priority");
  std::printf("frames       %zu\n", latencies.size());
  const double p50 = Percentile(latencies, 0.50);
  const double p99 = Percentile(latencies, 0.99);
  const double floorP50 = Percentile(floor, 0.50);
  const double floorP99 = Percentile(floor, 0.99);
  std::printf("               library    two hand-offs   ratio\n");
  std::printf("latency p50  %8.1f us  %8.1f us  %6.2f\n", p50, floorP50, floorP50 > 0 ? p50 / floorP50 : 0.0);
  std::printf("latency p99  %8.1f us  %8.1f us  %6.2f\n", p99, floorP99, floorP99 > 0 ? p99 / floorP99 : 0.0);
  std::printf("latency max  %8.1f us  %8.1f us\n",
              latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()),
              floor.empty() ? 0.0 : *std::max_element(floor.begin(), floor.end()));
  bench::ShutDown();
  return 0;
}
