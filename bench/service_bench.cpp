// The plugin's driver service on emulated amplifiers, at the shipped pauses.
//   bench_service latency [frames=10000] [amplifiers=4]
//     bulk read to the service's data callback (worker at normal priority), beside the driver
//     library's own figure (bulk read to an application thread) measured in the same run;
//   bench_service detection
//     wall time of a detection with 2 and with 5 plates, split into its phases, and of a repeated
//     one;
//   bench_service download
//     one smart-plate calibration download, started by the driver during the bring-up and
//     started by the plugin.

#include <atomic>
#include <boost/bind/bind.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/frame_arrival.h"
#include "host/host_services.h"
#include "platform/settings_store.h"
#include "plugin/service/driver_service.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_bus.h"

using namespace torva;
using bench::Clock;
using Service = Torva::VTorvaDriverService;

namespace {

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// A host log that keeps when each line arrived.
class TimedLog {
 public:
  host::HostServices& Services() { return services_; }
  // When the first (or last) line starting with `prefix` arrived.
  Clock::time_point First(const std::string& prefix) const { return Find(prefix, false); }
  Clock::time_point Last(const std::string& prefix) const { return Find(prefix, true); }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  Clock::time_point Find(const std::string& prefix, bool last) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Clock::time_point found{};
    for (const auto& [time, text] : lines_) {
      if (text.rfind(prefix, 0) != 0) continue;
      found = time;
      if (!last) break;
    }
    return found;
  }
  mutable std::mutex mutex_;
  std::vector<std::pair<Clock::time_point, std::string>> lines_;
  host::HostServices services_{[this](const host::LogLine& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(Clock::now(), line.text);
  }};
};

// Runs a detection; the time its result arrived.
Clock::time_point Detect(Service& service, std::vector<Service::VDeviceInfo>* devices = nullptr) {
  std::atomic<bool> done{false};
  Clock::time_point at{};
  service.BeginDetection([&](Service::VDllInitInfo, std::vector<Service::VDeviceInfo> found) {
    at = Clock::now();
    if (devices != nullptr) *devices = found;
    done = true;
  });
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return at;
}

void UseScratchSettings() {
  const std::string directory = "/tmp/torva-bench-service";
  std::filesystem::create_directories(directory + "/cfg");
  std::filesystem::create_directories(directory + "/cal");
  ::setenv("TORVA_SETTINGS", (directory + "/settings.conf").c_str(), 1);
  platform::SettingsStore::Machine().Write("SOFTWARE\\Torva\\CFG", "Path", directory + "/cfg/");
  platform::SettingsStore::Machine().Write("SOFTWARE\\Torva\\HPS", "Path", directory + "/cal/");
}

int Latency(int wanted, int amplifiers) {
  // The library alone, as bench_latency measures it with a normal-priority application thread.
  if (!bench::PrepareStreaming(amplifiers, 1000)) return 1;
  fmBroadcastStart();
  const std::vector<double> library = bench::CollectFrameLatencies(wanted, amplifiers);
  fmBroadcastStop();
  bench::ShutDown();

  // The same through the service: its worker hands each block to the data callback.
  std::vector<double> service;
  service.reserve(static_cast<std::size_t>(wanted));
  std::atomic<bool> enough{false};
  {
    host::HostServices services;
    Service driver(&services);
    bench::FrameArrival arrival(amplifiers);
    driver.SetDataCallback([&](float* block) {
      const Clock::time_point held = Clock::now();
      if (enough) return;
      const Clock::time_point last = arrival.LastPacketOf(block);
      if (last != Clock::time_point{})
        service.push_back(std::chrono::duration<double, std::micro>(held - last).count());
      if (static_cast<int>(service.size()) >= wanted) enough = true;
    });
    Detect(driver);
    driver.PostCommand(boost::bind(&Service::StartAcquisition, &driver));
    while (!enough) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    driver.PostCommand(boost::bind(&Service::StopAcquisition, &driver));
  }
  std::printf("amplifiers   %d at 1000 samples/s, %d frames each\n", amplifiers, wanted);
  std::printf("               library   service   added\n");
  const double p50 = bench::Percentile(library, 0.5), s50 = bench::Percentile(service, 0.5);
  const double p99 = bench::Percentile(library, 0.99), s99 = bench::Percentile(service, 0.99);
  std::printf("latency p50  %7.1f us %7.1f us %+7.1f us\n", p50, s50, s50 - p50);
  std::printf("latency p99  %7.1f us %7.1f us %+7.1f us\n", p99, s99, s99 - p99);
  return 0;
}

void PrintPhases(const char* what, TimedLog& log, Clock::time_point began, Clock::time_point ended) {
  const auto init = log.First("::fmDLLInit()");
  const auto check = log.First("::fmDLLSetupCheck()");
  const auto count = log.First("::fmDLLGetDeviceCount()");
  const auto reads = log.Last("::fmGetPlatformLengthAndWidth()");
  std::printf("%-22s %7.0f ms: before init %4.0f, bring-up wait %5.0f, settings %5.0f, reads %4.0f, "
              "report delay %5.0f\n",
              what, Milliseconds(ended - began), Milliseconds(init - began),
              Milliseconds(check - init), Milliseconds(count - check), Milliseconds(reads - count),
              Milliseconds(ended - reads));
}

int Detection() {
  for (const int plates : {2, 5}) {
    std::vector<sim::AmplifierDescription> amplifiers;
    for (int i = 0; i < plates; ++i) amplifiers.push_back(sim::DescribeAmplifier(i, 100));
    sim::EmulatedBus::Instance().Install(amplifiers);
    TimedLog log;
    {
      Service service(&log.Services());
      auto began = Clock::now();
      auto ended = Detect(service);
      PrintPhases((std::to_string(plates) + " plates").c_str(), log, began, ended);
      log.Clear();
      began = Clock::now();
      ended = Detect(service);
      PrintPhases((std::to_string(plates) + " plates, repeated").c_str(), log, began, ended);
    }
    sim::EmulatedBus::Instance().Reset();
  }
  return 0;
}

int Download() {
  for (const std::int32_t status : {3, 2}) {
    auto plate = sim::DescribeAmplifier(0, 300);
    plate.smartPlateStatus = status;
    std::string file(3000, '\0');
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7 + 3);
    const std::int32_t header[2] = {300, 4};
    std::memcpy(file.data(), header, sizeof header);
    std::ofstream("/tmp/torva-bench-service/cal/" + plate.platformSerial + ".bcf",
                  std::ios::binary) << file;
    sim::EmulatedBus::Instance().Install({plate});
    TimedLog log;
    {
      Service service(&log.Services());
      const auto began = Clock::now();
      const auto ended = Detect(service);
      if (status == 3) {
        PrintPhases("driver's download", log, began, ended);
      } else {
        const auto called = log.First("fmVantorDownloadCalFile() called");
        const auto complete = log.First("Vantor download is complete");
        std::printf("plugin's download      %7.0f ms from the request to \"complete\" (limit 25 s)\n",
                    Milliseconds(complete - called));
      }
    }
    sim::EmulatedBus::Instance().Reset();
  }
  std::printf("(a 3000-byte file: three blocks; the bring-up wait is limited to about 13 s)\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "latency";
  UseScratchSettings();
  if (mode == "latency")
    return Latency(argc > 2 ? std::atoi(argv[2]) : 10000, argc > 3 ? std::atoi(argv[3]) : 4);
  if (mode == "detection") return Detection();
  if (mode == "download") return Download();
  std::fprintf(stderr, "usage: bench_service latency|detection|download\n");
  return 2;
}
