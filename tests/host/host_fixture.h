#pragma once
// A host with the fake plugin's two definitions declared, a recording sink and an instantiator.

#include <string>

#include "fake_plugin.h"
#include "host/definition_registry.h"
#include "host/device_instantiator.h"
#include "host/recording_frame_sink.h"

namespace torva::host::test {

class HostWithDefinitions : public HostTest {
 protected:
  HostWithDefinitions() {
    FakeSharedConfigDefinition sharedConfig;
    FakePlateDefinition plate;
    sharedConfig.Declare(&registry, true);
    plate.Declare(&registry, true);
  }

  // Instantiates device as a "TypeA" plate under name; the result's text ("" when accepted).
  std::string InstantiatePlate(FakeDevice& device, const std::string& name) {
    SDD::HostResult* result = nullptr;
    instantiator.Instantiate(&result, "Torva", "TypeA", "V1.0", name.c_str(), &device);
    return TakeResult(result);
  }

  DefinitionRegistry registry;
  RecordingFrameSink sink;
  DeviceInstantiator instantiator{registry, sink};
};

}  // namespace torva::host::test
