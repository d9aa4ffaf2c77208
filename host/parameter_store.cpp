#include "host/parameter_store.h"

#include <stdexcept>
#include <utility>

namespace torva::host {

ParameterStore::ParameterStore(const DeviceDefinition& definition) {
  for (const ParameterDefinition& parameter : definition.parameters) {
    StoredParameter stored;
    stored.typeCode = parameter.value->GetType();
    stored.id = parameter.id;
    if (!ReadValueBytes(*parameter.value, stored.bytes)) {
      throw std::runtime_error("the declared value of \"" + parameter.name + "\" cannot be read");
    }
    parameters_.emplace(parameter.name, std::move(stored));
  }
}

std::optional<StoredParameter> ParameterStore::Find(const std::string& name) const {
  const auto found = parameters_.find(name);
  if (found == parameters_.end()) return std::nullopt;
  return found->second;
}

bool ParameterStore::Replace(const std::string& name, ValueBytes bytes) {
  const auto found = parameters_.find(name);
  if (found == parameters_.end()) return false;
  found->second.bytes = std::move(bytes);
  return true;
}

}  // namespace torva::host
