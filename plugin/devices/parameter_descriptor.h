#pragma once
// ParameterDescriptor: one parameter as a definition declares it to the host and as a device keeps
// its working value: name (the key of GetParameter and SetParameter), display name, description,
// group, declare flag, the value, and the identifier (whose high word is always 0).
//
// A descriptor owns its value, and copying a descriptor copies the value. The descriptor is
// therefore templated on the value class and embeds the value itself: the compiler's copy of the
// concrete class is the deep copy, with no clone operation on the host's interface (whose slots
// are fixed) and no type inspection, which would not work on values built by another module with
// hidden visibility. Whoever needs the value through the interface takes &descriptor.value.

#include <string>
#include <type_traits>

#include "plugin/devices/parameter_value.h"
#include "plugin/frame/host_interface.h"

namespace SabloDigitalDevice {

template <class Value>
struct ParameterDescriptor {
  static_assert(std::is_base_of_v<IParameterValue, Value>, "a descriptor holds a parameter value");

  std::string name;
  std::string displayName;
  std::string description;
  std::string group;
  bool declare = true;
  Value value;
  ParameterId id;
};

// Declares a descriptor's parameter on the registry and releases the result (which is ignored).
template <class Value>
void DeclareDescriptor(IDefinitionRegistry& registry, ParameterDescriptor<Value>& descriptor) {
  HostResult* result = nullptr;
  registry.DeclareParameter(&result, descriptor.name.c_str(), descriptor.displayName.c_str(),
                            descriptor.description.c_str(), descriptor.group.c_str(),
                            descriptor.declare, &descriptor.value, descriptor.id.low,
                            descriptor.id.high);
  ReleaseResult(result);
}

}  // namespace SabloDigitalDevice
