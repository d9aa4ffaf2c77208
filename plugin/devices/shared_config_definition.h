#pragma once
// VSharedConfigDefinition: what the shared-configuration device looks like to the host, the one
// device through which the user detects plates and sets what all plates share. It declares the
// device and its six parameters (acquisition rate, synchronization mode, Fz threshold, and the
// zero, USB-reset and detection actions).
//
// Life cycle and threads: each definition copies the holder's prototype when it is built. The
// plugin declares one on the host's thread, and the shared-configuration device embeds a copy whose
// values are its working copies of the host's settings.

#include <string>

#include "plugin/devices/shared_config_parameter_holder.h"
#include "plugin/frame/host_interface.h"

namespace Torva {

using namespace SabloDigitalDevice;

class VSharedConfigDefinition : public IDeviceDefinition, public VSharedConfigParameterHolder {
 public:
  VSharedConfigDefinition();

  // Declares the device and its parameters. includeBlink is ignored: there is nothing to blink.
  // Every result the registry hands back is released and otherwise ignored. A null registry
  // declares nothing. A declaration that fails midway (out of memory) ends there; the definition
  // has no log to report it to.
  void Declare(IDefinitionRegistry* registry, bool includeBlink) override;

  std::string maker;
  std::string name;
  std::string version;
  std::string description;

 private:
  void DeclareTo(IDefinitionRegistry* registry);
};

}  // namespace Torva
