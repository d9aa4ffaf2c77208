#include "plugin/frame/plugin_exports.h"

#include <cstring>

#include "plugin/devices/plate_definitions.h"
#include "plugin/devices/shared_config_definition.h"
#include "plugin/frame/plugin_state.h"
#include "plugin/service/plugin_log.h"

namespace Torva {

PluginState& Plugin() {
  static PluginState state;
  return state;
}

namespace {

// Runs an entry point's body; anything it throws is logged (when there is a log) and goes no
// further than the entry point.
template <typename Body>
void Guarded(const char* entryPoint, Body&& body) noexcept {
  RunLogged(Plugin().services, entryPoint, body);
}

const VSharedConfigDefinition& SharedDefinition() {
  static const VSharedConfigDefinition definition;
  return definition;
}

bool Same(const char* text, const char* expected) {
  return text != nullptr && std::strcmp(text, expected) == 0;
}

}  // namespace
}  // namespace Torva

using namespace Torva;

extern "C" {

int PluginAPIVersion() { return kPluginApiVersion; }

bool Initialise(SabloDigitalDevice::IHostServices* services) {
  bool done = false;
  Guarded("Initialise", [&] {
    // Without a log, clock and detection target nothing can work: nothing is created.
    if (services == nullptr) return;
    PluginState& plugin = Plugin();
    if (plugin.service) {
      // The host holds pointers to the existing devices: replacing them would free them under it.
      // The warning goes to the services just handed over: that is the log the caller reads.
      LogFormatted(services, kSeverityWarning,
                   "Initialise called again: the plugin keeps running as it was");
      done = true;
      return;
    }
    plugin.services = services;
    plugin.manualInstantiationDone = false;
    plugin.service = std::make_shared<VTorvaDriverService>(services);
    plugin.sharedDevice = std::make_shared<VSharedConfigDevice>(services, plugin.service.get());
    done = true;
  });
  return done;
}

void ProvideDeviceDefinitions(SabloDigitalDevice::IDefinitionRegistry* registry) {
  Guarded("ProvideDeviceDefinitions", [&] {
    if (registry == nullptr || !Plugin().service) return;
    // Declare takes a mutable definition; the shared one declares from a copy of its own.
    VSharedConfigDefinition shared = SharedDefinition();
    shared.Declare(registry, true);
    DeclarePlateDefinitions(registry);
  });
}

void BeginDeviceInstantiation(SabloDigitalDevice::IDeviceInstantiator* instantiator) {
  Guarded("BeginDeviceInstantiation", [&] {
    PluginState& plugin = Plugin();
    if (instantiator == nullptr || !plugin.sharedDevice) return;
    plugin.instantiator = instantiator;
    plugin.sharedDevice->SetInstantiator(instantiator);
  });
}

void OnManualDeviceInstantiation(const char* maker, const char* definitionName,
                                 const char* version) {
  Guarded("OnManualDeviceInstantiation", [&] {
    PluginState& plugin = Plugin();
    if (!Same(maker, kSharedMaker) || !Same(definitionName, kSharedDefinitionName) ||
        !Same(version, kSharedVersion))
      return;
    if (plugin.manualInstantiationDone || plugin.instantiator == nullptr || !plugin.sharedDevice)
      return;
    plugin.manualInstantiationDone = true;
    SabloDigitalDevice::HostResult* result = nullptr;
    plugin.instantiator->Instantiate(&result, kSharedMaker, kSharedDefinitionName, kSharedVersion,
                                     kSharedInstanceName, plugin.sharedDevice.get());
    SabloDigitalDevice::ReleaseResult(result);
  });
}

void Shutdown() {
  Guarded("Shutdown", [] {
    PluginState& plugin = Plugin();
    // The service first: its worker may call the shared device back until it has ended.
    plugin.service.reset();
    plugin.sharedDevice.reset();
    plugin.instantiator = nullptr;
    plugin.manualInstantiationDone = false;
    plugin.services = nullptr;
  });
}

}  // extern "C"
