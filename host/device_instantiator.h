#pragma once
// The host's device instantiator: makes a device instance of a declared definition under a name
// of its own, gives it a device host whose parameters start from the declared values, and attaches
// the plugin's device to it on the calling thread before Instantiate returns.
//
// Refused (with a result text): a definition that the registry has not finished, an instance name
// already in use, a null device. The instance does not own the plugin's device.
//
// Threads: Instantiate may come from any thread (the plugin instantiates from its own worker
// thread); one lock guards the instances and is not held while the device is attached, so Attach
// may call back into the host. Life cycle: instances live as long as the instantiator; the
// registry and the sink outlive it.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/definition_registry.h"
#include "host/device_instance.h"
#include "host/frame_sink.h"
#include "plugin/frame/host_interface.h"

namespace torva::host {

class DeviceInstantiator final : public SabloDigitalDevice::IDeviceInstantiator {
 public:
  DeviceInstantiator(const DefinitionRegistry& registry, FrameSink& sink)
      : registry_(registry), sink_(sink) {}
  DeviceInstantiator(const DeviceInstantiator&) = delete;
  DeviceInstantiator& operator=(const DeviceInstantiator&) = delete;
  ~DeviceInstantiator() = default;

  void Instantiate(SabloDigitalDevice::HostResult** result, const char* maker,
                   const char* definitionName, const char* version, const char* instanceName,
                   SabloDigitalDevice::IDevice* device) override;

  // Instance names in the order the instances were made.
  std::vector<std::string> InstanceNames() const;
  // The instance with this name, or null.
  DeviceInstance* Find(const std::string& instanceName) const;

 private:
  const DefinitionRegistry& registry_;
  FrameSink& sink_;
  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<DeviceInstance>, std::less<>> instances_;
  std::vector<std::string> order_;
};

}  // namespace torva::host
