#pragma once
// The plugin's six entry points, as the host finds them by name in libTorvaplugin.so. The host
// calls them from one thread at a time, in this order: PluginAPIVersion, Initialise,
// ProvideDeviceDefinitions, BeginDeviceInstantiation, OnManualDeviceInstantiation (as often as
// it likes; only the first request for the shared-configuration device acts), Shutdown.
// Nothing is thrown out of them; calls out of order, repeated or with null arguments do nothing.

#include "plugin/frame/host_interface.h"

#if defined(TORVA_BUILDING_PLUGIN)
#define TORVA_PLUGIN_API __attribute__((visibility("default")))
#else
#define TORVA_PLUGIN_API
#endif

extern "C" {

// The plugin interface version this library implements: 1.
TORVA_PLUGIN_API int PluginAPIVersion();
// Stores the host's services and creates the driver service and the shared-configuration device.
// False only for a null pointer (then nothing is created).
TORVA_PLUGIN_API bool Initialise(SabloDigitalDevice::IHostServices* services);
// Declares the fourteen device definitions.
TORVA_PLUGIN_API void ProvideDeviceDefinitions(SabloDigitalDevice::IDefinitionRegistry* registry);
// Keeps the host's instantiator (the latest wins).
TORVA_PLUGIN_API void BeginDeviceInstantiation(SabloDigitalDevice::IDeviceInstantiator* instantiator);
// Instantiates the shared-configuration device when asked for it by its maker, name and version.
TORVA_PLUGIN_API void OnManualDeviceInstantiation(const char* maker, const char* definitionName,
                                                  const char* version);
// Ends the driver service (and with it the driver library, if it was started), then the devices.
TORVA_PLUGIN_API void Shutdown();

}  // extern "C"

// Names and identity the host uses with these entry points.
namespace Torva {
inline constexpr int kPluginApiVersion = 1;
inline constexpr const char* kSharedMaker = "Torva";
inline constexpr const char* kSharedDefinitionName = "Digital device common settings";
inline constexpr const char* kSharedVersion = "V1.0";
inline constexpr const char* kSharedInstanceName = "Torva Shared Config Device";
}  // namespace Torva
