#include "host/device_instantiator.h"

#include <utility>

namespace torva::host {

namespace SDD = SabloDigitalDevice;

void DeviceInstantiator::Instantiate(SDD::HostResult** result, const char* maker,
                                     const char* definitionName, const char* version,
                                     const char* instanceName, SDD::IDevice* device) {
  DeviceInstance* attaching = nullptr;
  AnswerCall(result, [&]() -> Refusal {
    const DeviceDefinition* definition =
        registry_.Find(TextOf(maker), TextOf(definitionName), TextOf(version));
    if (definition == nullptr) {
      return "unknown definition " +
             DefinitionIdentity(TextOf(maker), TextOf(definitionName), TextOf(version));
    }
    if (device == nullptr) return std::string("no device given");
    const std::string name = TextOf(instanceName);
    auto instance = std::make_unique<DeviceInstance>(name, *definition, *device, sink_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (instances_.count(name) != 0) return "instance name \"" + name + "\" is already in use";
    DeviceInstance* made = instance.get();
    order_.push_back(name);
    instances_.emplace(name, std::move(instance));
    attaching = made;
    return std::nullopt;
  });
  // The name is taken before the device is attached, and no lock is held while it is.
  if (attaching != nullptr) device->Attach(&attaching->Host());
}

std::vector<std::string> DeviceInstantiator::InstanceNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return order_;
}

DeviceInstance* DeviceInstantiator::Find(const std::string& instanceName) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = instances_.find(instanceName);
  return found != instances_.end() ? found->second.get() : nullptr;
}

}  // namespace torva::host
