#include "bench/soak/soak_monitor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>

#include "bench/bench_support.h"
#include "bench/soak/soak_limits.h"
#include "tests/support/process_stats.h"

namespace torva::soak {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr std::size_t kBytesPerKiB = 1024;
constexpr double kPercent = 100;
// How often the start looks for the first frame.
constexpr std::chrono::milliseconds kFirstFramePoll{20};

struct ProcessSample {
  std::size_t rssKiB = 0;
  std::size_t threads = 0;
  std::size_t descriptors = 0;
  double cpuSeconds = 0;  // user + system, all threads, since the process started

  static ProcessSample Now() {
    return {testing::ResidentBytes() / kBytesPerKiB, testing::ThreadCount(),
            testing::OpenFileDescriptorCount(), bench::ProcessCpuSeconds()};
  }
};

// Resident memory at the first sample after the baseline time, and the most it grew since.
struct RssWatch {
  std::optional<std::size_t> baselineKiB;
  long long maxGrowthKiB = 0;

  void Add(double elapsed, std::size_t rssKiB) {
    if (!baselineKiB) {
      if (elapsed >= kRssBaselineSeconds) baselineKiB = rssKiB;
      return;
    }
    maxGrowthKiB = std::max(maxGrowthKiB, static_cast<long long>(rssKiB) -
                                              static_cast<long long>(*baselineKiB));
  }
  long long AllowedGrowthKiB() const {
    const double share = kRssGrowthAllowedShare * static_cast<double>(baselineKiB.value_or(0));
    return static_cast<long long>(
        std::max(share, static_cast<double>(kRssGrowthAllowedBytes / kBytesPerKiB)));
  }
};

void PrintHeading() {
  std::printf("%9s %12s %12s %8s %8s %8s %9s %7s %5s %8s %7s\n", "elapsed_s", "expected",
              "received", "missing", "dropped", "overruns", "rss_kib", "threads", "fds", "cpu_s",
              "cpu_%");
}

void PrintLine(double elapsed, long long expected, const SoakCounts& counts,
               const ProcessSample& process, double cpuSinceStart) {
  std::printf("%9.1f %12lld %12lld %8lld %8lld %8lld %9zu %7zu %5zu %8.2f %6.2f%%\n", elapsed,
              expected, counts.received, counts.missing, counts.dropped, counts.overruns,
              process.rssKiB, process.threads, process.descriptors, cpuSinceStart,
              elapsed > 0 ? kPercent * cpuSinceStart / elapsed : 0.0);
  std::fflush(stdout);
}

bool WaitForFirstFrame(const SoakSource& source) {
  const auto limit = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        Seconds(kFirstFrameLimitSeconds));
  while (!source.Streaming()) {
    if (Clock::now() > limit) return false;
    std::this_thread::sleep_for(kFirstFramePoll);
  }
  return true;
}

}  // namespace

int RunSoak(SoakSource& source, const SoakSettings& settings) {
  std::printf("%s\n", settings.title.c_str());
  std::fflush(stdout);
  if (!source.Start()) {
    source.Stop();
    return 1;
  }
  if (!WaitForFirstFrame(source)) {
    std::fprintf(stderr, "no frame within %.0f s of the start\n", kFirstFrameLimitSeconds);
    source.Stop();
    return 1;
  }
  const auto begin = Clock::now();
  // What arrived before the clock started is not judged against it.
  const SoakCounts atBegin = source.Counts();
  const double cpuAtBegin = bench::ProcessCpuSeconds();
  const auto Elapsed = [&begin] { return Seconds(Clock::now() - begin).count(); };
  const auto Expected = [&source](double elapsed) {
    return static_cast<long long>(std::floor(elapsed * source.FramesPerSecond()));
  };

  std::printf("frames expected per second: %.0f\n", source.FramesPerSecond());
  PrintHeading();
  RssWatch rss;
  ProcessSample process;
  double elapsed = 0;
  for (int sample = 1;; ++sample) {
    const double due = std::min(sample * settings.sampleSeconds, settings.seconds);
    std::this_thread::sleep_until(begin + std::chrono::duration_cast<Clock::duration>(Seconds(due)));
    elapsed = Elapsed();
    process = ProcessSample::Now();
    rss.Add(elapsed, process.rssKiB);
    PrintLine(elapsed, Expected(elapsed), source.Counts(), process,
              process.cpuSeconds - cpuAtBegin);
    if (due >= settings.seconds) break;
  }
  source.Stop();
  const SoakCounts counts = source.Counts();
  const long long expected = Expected(elapsed);
  const double cpuUsed = process.cpuSeconds - cpuAtBegin;
  // Every stream on its own must keep up with the clock, within the lag allowed.
  const double perStream = source.FramesPerSecond() / source.Streams();
  const long long lagAllowed = static_cast<long long>(std::ceil(kLagAllowanceSeconds * perStream));
  const long long expectedPerStream = static_cast<long long>(std::floor(elapsed * perStream));
  const bool shortfall =
      counts.fewestReceived - atBegin.fewestReceived + lagAllowed < expectedPerStream;
  const bool lost = counts.missing > 0 || counts.dropped > 0 || counts.overruns > 0 || shortfall;
  const bool grew = rss.baselineKiB && rss.maxGrowthKiB > rss.AllowedGrowthKiB();

  std::printf("summary\n");
  std::printf("  frames expected        %lld in %.1f s\n", expected, elapsed);
  std::printf("  frames received        %lld (%.3f%%)\n", counts.received,
              expected > 0 ? kPercent * static_cast<double>(counts.received) /
                                 static_cast<double>(expected)
                           : 0.0);
  std::printf("  frames missing         %lld\n", counts.missing);
  std::printf("  dropped samples        %lld\n", counts.dropped);
  std::printf("  ring overruns          %lld\n", counts.overruns);
  if (rss.baselineKiB) {
    std::printf("  RSS at %.0f s            %zu KiB\n", kRssBaselineSeconds, *rss.baselineKiB);
    std::printf("  RSS at the end         %zu KiB\n", process.rssKiB);
    std::printf("  max RSS growth         %lld KiB after %.0f s (allowed %lld KiB)\n",
                rss.maxGrowthKiB, kRssBaselineSeconds, rss.AllowedGrowthKiB());
  } else {
    std::printf("  RSS at the end         %zu KiB (run shorter than %.0f s: growth not judged)\n",
                process.rssKiB, kRssBaselineSeconds);
  }
  std::printf("  CPU per second         %.4f s (%.2f%% of one core)\n",
              elapsed > 0 ? cpuUsed / elapsed : 0.0, elapsed > 0 ? kPercent * cpuUsed / elapsed : 0.0);
  if (shortfall)
    std::printf("  stalled: a stream delivered %lld of the %lld frames due to it\n",
                counts.fewestReceived - atBegin.fewestReceived, expectedPerStream);
  std::printf("result                   %s\n", lost ? "FAIL: frames lost"
                                                  : grew ? "FAIL: resident memory grew"
                                                         : "pass");
  return lost || grew ? 1 : 0;
}

}  // namespace torva::soak
