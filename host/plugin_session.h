#pragma once
// One run of the plugin in this host: the loaded library, the host's services, definition
// registry and device instantiator, and the plugin's life from Initialise to Shutdown. Start makes
// the calls a host makes before any device exists: Initialise, ProvideDeviceDefinitions,
// BeginDeviceInstantiation. Once Initialise has been called, the session's end always calls
// Shutdown and then closes the library, whichever way the run ends.
//
// Threads: the program's main thread makes every call; the plugin calls the host objects from its
// own threads. Life cycle: the host objects outlive Shutdown, the library outlives the plugin's
// objects; the frame sink and the log outlive the session.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host/definition_registry.h"
#include "host/device_instantiator.h"
#include "host/frame_sink.h"
#include "host/host_log.h"
#include "host/host_services.h"
#include "host/plugin_loader.h"

namespace torva::host {

class PluginSession {
 public:
  PluginSession(std::unique_ptr<PluginLibrary> library, HostLog& log, FrameSink& sink);
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;
  // Shutdown (if Initialise was called), then the library is closed.
  ~PluginSession();

  // Initialise, ProvideDeviceDefinitions, BeginDeviceInstantiation; false when Initialise refused.
  bool Start();
  // Asks for the shared-configuration device; the host instantiates it and its Attach starts the
  // detection.
  void InstantiateSharedDevice();
  // Shutdown now (once); the session's end does it otherwise.
  void Shutdown();

  HostServices& Services() { return services_; }
  const DefinitionRegistry& Registry() const { return registry_; }
  DeviceInstantiator& Instantiator() { return instantiator_; }
  const std::string& PluginPath() const { return library_->Path(); }

 private:
  std::unique_ptr<PluginLibrary> library_;
  HostServices services_;
  DefinitionRegistry registry_;
  DeviceInstantiator instantiator_;
  bool initialised_ = false;
};

}  // namespace torva::host
