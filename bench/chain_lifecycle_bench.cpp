// The chain's life cycle at the shipped pauses: emulated plates through the driver library, the
// plugin and the host core. Each cycle times the detection (the manual instantiation of the
// shared-configuration device to its status notification), the capture's start (PrepareCapture on
// every instance to the first pushed block) and the shut-down (OnCaptureStopped and Shutdown).
//   bench_chain_lifecycle [plates=2] [cycles=3]

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "bench/chain_session.h"
#include "host/frame_sink.h"

using namespace torva;

namespace {

using Clock = std::chrono::steady_clock;

// The most plates the emulator offers, and how long a capture may take to deliver its first block.
constexpr int kMostPlates = 25;
constexpr std::chrono::seconds kFirstBlockLimit{30};

// Wakes the bench at the first pushed block of a capture.
class FirstBlockSink final : public host::FrameSink {
 public:
  void Deliver(const std::string&, std::int64_t, std::uint32_t, const std::uint32_t*,
               std::uint32_t, const float*, std::uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!arrived_) {
      arrived_ = true;
      arrival_ = Clock::now();
      cv_.notify_all();
    }
  }
  void Rearm() {
    std::lock_guard<std::mutex> lock(mutex_);
    arrived_ = false;
  }
  // The time of the first block, or nothing within the limit.
  bool WaitFirst(std::chrono::seconds limit, Clock::time_point& at) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, limit, [this] { return arrived_; })) return false;
    at = arrival_;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool arrived_ = false;
  Clock::time_point arrival_;
};

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int plates = argc > 1 ? std::atoi(argv[1]) : 2;
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 3;
  if (plates < 1 || plates > kMostPlates || cycles < 1) {
    std::fprintf(stderr, "usage: bench_chain_lifecycle [plates 1-25] [cycles >= 1]\n");
    return 1;
  }
  ::setenv("TORVA_SIMULATE", std::to_string(plates).c_str(), 1);
  const std::string directory = "/tmp/torva-bench-lifecycle";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory + "/cfg");
  ::setenv("TORVA_SETTINGS", (directory + "/settings.conf").c_str(), 1);

  std::printf("%d emulated plates, shipped pauses; seconds per cycle\n", plates);
  std::printf("cycle  detection  prepare-to-first-block  shutdown\n");
  FirstBlockSink sink;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    sink.Rearm();
    bench::ChainSession session(sink);
    const auto opening = Clock::now();
    if (!session.Open()) {
      std::fprintf(stderr, "cycle %d: the detection did not end within a minute\n", cycle);
      return 1;
    }
    const auto detected = Clock::now();
    session.StartCapture();
    Clock::time_point first;
    if (!sink.WaitFirst(kFirstBlockLimit, first)) {
      std::fprintf(stderr, "cycle %d: no block within %lld s of PrepareCapture\n", cycle,
                   static_cast<long long>(kFirstBlockLimit.count()));
      session.Close();
      return 1;
    }
    const auto closing = Clock::now();
    session.Close();
    const auto closed = Clock::now();
    std::printf("%5d  %9.3f  %22.3f  %8.3f\n", cycle, SecondsBetween(opening, detected),
                SecondsBetween(detected, first), SecondsBetween(closing, closed));
  }
  return 0;
}
