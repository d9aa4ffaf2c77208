#include "host/device_definition.h"

#include <algorithm>

namespace torva::host {

const ParameterDefinition* DeviceDefinition::FindParameter(const std::string& parameterName) const {
  const auto found = std::find_if(
      parameters.begin(), parameters.end(),
      [&](const ParameterDefinition& parameter) { return parameter.name == parameterName; });
  return found != parameters.end() ? &*found : nullptr;
}

bool DeviceDefinition::HasSyncInput(const std::string& syncInputName) const {
  return std::find(syncInputs.begin(), syncInputs.end(), syncInputName) != syncInputs.end();
}

std::string DefinitionIdentity(const std::string& maker, const std::string& name,
                               const std::string& version) {
  return "\"" + maker + "\" \"" + name + "\" \"" + version + "\"";
}

}  // namespace torva::host
