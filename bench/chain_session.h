#pragma once
// A host session on the plugin for the chain benchmarks: the host core's registry and
// instantiator around a sink of the bench's own, the plugin's entry points called in a host's
// order, a detection waited for, and a capture prepared on every instance and started.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/definition_registry.h"
#include "host/device_instantiator.h"
#include "host/frame_sink.h"
#include "host/host_services.h"
#include "plugin/devices/parameter_value.h"
#include "plugin/frame/plugin_exports.h"

namespace torva::bench {

// The next plugin session sees `plates` emulated plates, with machine settings of its own in
// `directory` (created when missing).
inline void UseEmulatedPlates(int plates, const std::string& directory) {
  ::setenv("TORVA_SIMULATE", std::to_string(plates).c_str(), 1);
  std::filesystem::create_directories(directory + "/cfg");
  ::setenv("TORVA_SETTINGS", (directory + "/settings.conf").c_str(), 1);
}

class ChainSession {
 public:
  explicit ChainSession(host::FrameSink& sink) : instantiator_(registry_, sink) {}

  // Initialises the plugin and waits (up to a minute) for its first detection to end.
  bool Open() {
    if (!Initialise(&services_)) return false;
    ProvideDeviceDefinitions(&registry_);
    BeginDeviceInstantiation(&instantiator_);
    OnManualDeviceInstantiation(Torva::kSharedMaker, Torva::kSharedDefinitionName,
                                Torva::kSharedVersion);
    host::DeviceInstance* shared = Shared();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (shared != nullptr && shared->Host().StatusNotificationCount() == 0 &&
           std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return shared != nullptr && shared->Host().StatusNotificationCount() > 0;
  }
  // Asks for `rate` (as the host's text; empty keeps the default), prepares every instance, the
  // shared one first, and starts the software trigger's clock. Returns the rate in force, in
  // samples per second, from the ticks per sample the first plate set (0 when none set them).
  double StartCapture(const std::string& rate = "") {
    if (!rate.empty()) {
      SabloDigitalDevice::IParameterValueEnum requested;
      requested.SetValue(rate);
      Shared()->Host().SetByHost("SampleRate", requested);
    }
    Shared()->PrepareCapture(&handle_);
    std::uint64_t ticksPerSample = 0;
    for (const std::string& name : instantiator_.InstanceNames()) {
      if (name == Torva::kSharedInstanceName) continue;
      const host::CaptureOutcome outcome = instantiator_.Find(name)->PrepareCapture(&handle_);
      if (ticksPerSample == 0 && outcome.settings.ticksPerSample)
        ticksPerSample = *outcome.settings.ticksPerSample;
    }
    for (const std::string& name : instantiator_.InstanceNames())
      instantiator_.Find(name)->Device().SetStartTime(services_.CurrentTime());
    return ticksPerSample == 0 ? 0.0
                               : static_cast<double>(host::HostServices::kClockRate) /
                                     static_cast<double>(ticksPerSample);
  }
  // Tells every instance the capture stopped and shuts the plugin down.
  void Close() {
    for (const std::string& name : instantiator_.InstanceNames())
      instantiator_.Find(name)->Device().OnCaptureStopped();
    Shutdown();
  }
  host::DeviceInstance* Shared() const { return instantiator_.Find(Torva::kSharedInstanceName); }
  // The plates' instances, in the order they were instantiated.
  std::vector<host::DeviceInstance*> Plates() const {
    std::vector<host::DeviceInstance*> plates;
    for (const std::string& name : instantiator_.InstanceNames())
      if (name != Torva::kSharedInstanceName) plates.push_back(instantiator_.Find(name));
    return plates;
  }

 private:
  host::HostServices services_;
  host::DefinitionRegistry registry_;
  host::DeviceInstantiator instantiator_;
  int handle_ = 0;
};

}  // namespace torva::bench
