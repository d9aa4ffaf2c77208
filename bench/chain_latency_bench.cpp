// Latency through the whole chain: from the bulk read that completed a driver frame (as
// bench_latency measures it) to the host's PushFrames of that frame by the last plate, with the
// plugin's worker at normal priority. The driver library's own figure (to an application thread)
// is measured first in the same run and printed beside it.
//   bench_chain_latency [frames=10000] [plates=4]

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/chain_session.h"
#include "bench/frame_arrival.h"
#include "host/frame_sink.h"
#include "plugin/frame/plugin_exports.h"
#include "plugin/frame/plugin_state.h"

using namespace torva;
using bench::Clock;

namespace {

// Takes the time of the last plate's push of each frame and finds when that frame's packets
// arrived at the driver.
class LatencySink final : public host::FrameSink {
 public:
  LatencySink(int plates, int wanted) : plates_(plates), wanted_(wanted) {
    latencies_.reserve(static_cast<std::size_t>(wanted));
  }
  void Deliver(const std::string&, std::int64_t firstFrame, std::uint32_t, const std::uint32_t*,
               std::uint32_t, const float*, std::uint32_t) override {
    const Clock::time_point held = Clock::now();
    if (++pushesOfFrame_ < plates_) return;
    pushesOfFrame_ = 0;
    if (Done()) return;
    // A plate's frame number counts from the start counter all plates share; read without any
    // device lock (a sink must not call into devices while they push).
    const Torva::VTorvaHelixDevice* plate = plate_.load();
    if (plate == nullptr) return;
    const auto counter = static_cast<std::int32_t>(firstFrame + plate->StartCounter());
    CThreadManager& control = *CUSBManager::Instance().Control();
    Clock::time_point last{};
    for (int position = 0; position < plates_; ++position) {
      const int slot = control.SlotAt(position);
      last = std::max(last, bench::ArrivalOf(*control.Device(slot), counter,
                                             hints_[static_cast<std::size_t>(slot)]));
    }
    if (last == Clock::time_point{}) return;
    std::lock_guard<std::mutex> lock(mutex_);
    latencies_.push_back(std::chrono::duration<double, std::micro>(held - last).count());
  }
  // The plate whose start counter maps frame numbers back to driver counters.
  void Watch(const Torva::VTorvaHelixDevice* plate) { plate_ = plate; }
  bool Done() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(latencies_.size()) >= wanted_;
  }
  std::vector<double> Latencies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latencies_;
  }

 private:
  const int plates_;
  const int wanted_;
  int pushesOfFrame_ = 0;
  std::vector<int> hints_ = std::vector<int>(25, 0);
  std::atomic<const Torva::VTorvaHelixDevice*> plate_{nullptr};
  mutable std::mutex mutex_;
  std::vector<double> latencies_;
};

}  // namespace

int main(int argc, char** argv) {
  const int wanted = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int plates = argc > 2 ? std::atoi(argv[2]) : 4;
  const std::string directory = "/tmp/torva-bench-chain-latency";
  std::filesystem::create_directories(directory + "/cfg");
  ::setenv("TORVA_SETTINGS", (directory + "/settings.conf").c_str(), 1);

  // The driver library alone, as bench_latency measures it.
  if (!bench::PrepareStreaming(plates, 1000)) return 1;
  fmBroadcastStart();
  const std::vector<double> library = bench::CollectFrameLatencies(wanted, plates);
  fmBroadcastStop();
  bench::ShutDown();

  LatencySink sink(plates, wanted);
  bench::ChainSession session(sink);
  if (!session.Open()) return 1;
  const auto devices = Torva::Plugin().sharedDevice->Devices();
  if (devices.empty()) return 1;
  sink.Watch(devices[0].get());
  session.StartCapture();
  const auto limit = Clock::now() + std::chrono::seconds(wanted / 40 + 60);
  while (!sink.Done() && Clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  session.Close();

  const std::vector<double> chain = sink.Latencies();
  const double l50 = bench::Percentile(library, 0.5), c50 = bench::Percentile(chain, 0.5);
  const double l99 = bench::Percentile(library, 0.99), c99 = bench::Percentile(chain, 0.99);
  std::printf("plates       %d at 1000 samples/s, %zu / %zu frames\n", plates, library.size(),
              chain.size());
  std::printf("               library   to the host   added\n");
  std::printf("latency p50  %7.1f us  %7.1f us  %+7.1f us\n", l50, c50, c50 - l50);
  std::printf("latency p99  %7.1f us  %7.1f us  %+7.1f us\n", l99, c99, c99 - l99);
  return 0;
}
