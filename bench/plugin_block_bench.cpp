// The plugin's cost per driver frame: the shared-configuration device hands one frame to every
// plate device, each converts its 16 samples and pushes them to a host that only counts. No
// driver, no emulator. Printed per block for 1, 4 and 25 plates (and per plate as a counter).

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "host/host_services.h"
#include "platform/sleep_clock.h"
#include "plugin/devices/shared_config_device.h"

namespace {

using namespace SabloDigitalDevice;

class CountingHost final : public IDeviceHost {
 public:
  void GetParameter(HostResult** result, IParameterValue*, const char*, const char*) override {
    *result = nullptr;
  }
  void SetParameter(HostResult** result, IParameterValue*, const char*, const char*) override {
    *result = nullptr;
  }
  std::uint32_t ChangedParameterCount() override { return 0; }
  void GetChangedParameters(HostResult** result, std::uint32_t*, ParameterId*,
                            std::uint32_t* count) override {
    *count = 0;
    *result = nullptr;
  }
  void PushFrames(HostResult** result, CaptureHandle, std::int64_t, std::uint32_t,
                  const std::uint32_t*, std::uint32_t, const float*, std::uint32_t) override {
    ++pushes;
    *result = nullptr;
  }
  void NotifyStatusChanged() override {}
  long pushes = 0;
};

class AttachingInstantiator final : public IDeviceInstantiator {
 public:
  explicit AttachingInstantiator(IDeviceHost* deviceHost) : host(deviceHost) {}
  void Instantiate(HostResult** result, const char*, const char*, const char*, const char*,
                   IDevice* device) override {
    *result = nullptr;
    device->Attach(host);
  }
  IDeviceHost* host;
};

// Takes no time: PrepareCapture's prescribed pause is not what is measured.
class NoSleep final : public torva::platform::SleepClock {
 public:
  void SleepFor(std::chrono::milliseconds) override {}
};

void PluginBlock(benchmark::State& state) {
  const int plates = static_cast<int>(state.range(0));
  NoSleep noSleep;
  torva::platform::InstallSleepClock(&noSleep);
  torva::host::HostServices services;
  CountingHost host;
  AttachingInstantiator instantiator(&host);
  Torva::VSharedConfigDevice device(&services, nullptr);
  device.SetInstantiator(&instantiator);
  device.Attach(&host);
  std::vector<Torva::VTorvaDriverService::VDeviceInfo> records(static_cast<std::size_t>(plates));
  for (int i = 0; i < plates; ++i) {
    auto& record = records[static_cast<std::size_t>(i)];
    record.productType = 100;
    record.amplifierSerial = "TA" + std::to_string(i);
    record.platformSerial = "P" + std::to_string(i);
    record.platformModel = "TP6040";
    record.deviceIndex = i;
  }
  device.OnDetected({1, 1, "ok"}, records);
  device.PrepareCapture(nullptr, nullptr);
  device.OnRunningChanged(true);
  device.SetStartTime(services.CurrentTime());
  std::vector<float> frame(static_cast<std::size_t>(16 * plates * 8), 0.0f);
  for (int row = 0; row < 16; ++row)
    for (int p = 0; p < plates; ++p) {
      float* record = frame.data() + (row * plates + p) * 8;
      record[0] = static_cast<float>(1 + row);
      record[3] = 650.0f + static_cast<float>(p);
      record[4] = 12.0f;
      record[5] = -30.0f;
    }
  for (auto _ : state) {
    device.OnData(frame.data());
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_plate"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * plates,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["pushes"] = static_cast<double>(host.pushes);
  torva::platform::InstallSleepClock(nullptr);
}

BENCHMARK(PluginBlock)->Arg(1)->Arg(4)->Arg(25);

}  // namespace

BENCHMARK_MAIN();
