#pragma once
// The plugin's global objects, created and destroyed by its entry points: the host's services and
// instantiator (not owned), the driver service and the shared-configuration device. The
// definitions are built on first use elsewhere (plate_definitions.h, shared_config_definition.h).
//
// Threads: the host calls the entry points one at a time, so no lock guards these.

#include <memory>

#include "plugin/devices/shared_config_device.h"
#include "plugin/frame/host_interface.h"
#include "plugin/service/driver_service.h"

namespace Torva {

struct PluginState {
  SabloDigitalDevice::IHostServices* services = nullptr;
  SabloDigitalDevice::IDeviceInstantiator* instantiator = nullptr;
  std::shared_ptr<VTorvaDriverService> service;
  std::shared_ptr<VSharedConfigDevice> sharedDevice;
  bool manualInstantiationDone = false;
};

PluginState& Plugin();

}  // namespace Torva
