#pragma once
// One device instance's parameter settings as the host keeps them: per parameter name, the type
// code and identifier it was declared with and its current value as a byte form. It starts from
// the declared values.
//
// Threads: none of its own; the device host guards it with its lock.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "host/device_definition.h"
#include "host/host_values.h"
#include "plugin/frame/host_interface.h"

namespace torva::host {

struct StoredParameter {
  std::int32_t typeCode = 0;
  SabloDigitalDevice::ParameterId id;
  ValueBytes bytes;
};

class ParameterStore {
 public:
  // Every parameter of the definition with its declared value. Throws std::runtime_error when a
  // declared value cannot be read, which the registry's checks exclude.
  explicit ParameterStore(const DeviceDefinition& definition);

  // The parameter with this name, or nothing.
  std::optional<StoredParameter> Find(const std::string& name) const;
  // Replaces the value bytes of a parameter the store has; false for an unknown name.
  bool Replace(const std::string& name, ValueBytes bytes);

 private:
  std::map<std::string, StoredParameter, std::less<>> parameters_;
};

}  // namespace torva::host
