// The whole chain at scale: emulated plates through the driver library, the plugin (entry points,
// driver service, shared-configuration and plate devices) and the host core into a sink that only
// counts. Prints the frames each plate missed, the driver's ring overruns and the process's CPU per
// second of capture (emulator included).
//   bench_chain_scale [seconds=60] [plates=25] [rate=2000]

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "bench/chain_session.h"
#include "bench/counting_sink.h"

using namespace torva;

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int plates = argc > 2 ? std::atoi(argv[2]) : 25;
  const std::string rate = argc > 3 ? argv[3] : "2000";
  const std::string directory = "/tmp/torva-bench-chain";
  bench::UseEmulatedPlates(plates, directory);

  bench::CountingSink sink;
  bench::ChainSession session(sink);
  if (!session.Open()) return 1;
  session.StartCapture(rate);

  // Measure from the first pushed block on.
  while (sink.Plates().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bench::ProcessUsage before = bench::ProcessUsage::Now();
  const auto began = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const bench::ProcessUsage used = bench::ProcessUsage::Now() - before;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const auto counted = sink.Plates();
  const int overruns = fmDLLGetDroppedDataCount();
  session.Close();

  long long blocks = 0;
  long long missing = 0;
  for (const auto& [name, plate] : counted) {
    blocks += plate.blocks;
    missing += plate.missing;
  }
  std::printf("plates                 %zu of %d, rate requested %s\n", counted.size(), plates,
              rate.c_str());
  std::printf("blocks pushed          %lld in %.1f s\n", blocks, elapsed);
  std::printf("missing frame numbers  %lld (all plates)\n", missing);
  std::printf("driver dropped counts  %d\n", overruns);
  const double cpu = (used.userSeconds + used.systemSeconds) / elapsed;
  std::printf("CPU per second         %.3f s (%.1f%% of one core)\n", cpu, 100.0 * cpu);
  std::printf("  user / system        %.2f s / %.2f s\n", used.userSeconds, used.systemSeconds);
  return 0;
}
