#pragma once
// A device definition as the host built it from a plugin's declarations: the device's texts, its
// parameters with host-owned copies of their declared values, its outputs with their components,
// and its sync inputs, each list in declaration order.
//
// Life cycle: the registry builds a definition while the plugin declares it and keeps it, unchanged
// and at the same address, from FinishDeclaration until the registry goes.

#include <memory>
#include <string>
#include <vector>

#include "plugin/devices/parameter_value.h"
#include "plugin/frame/host_interface.h"

namespace torva::host {

struct ParameterDefinition {
  std::string name;
  std::string displayName;
  std::string description;
  std::string group;
  bool declare = false;
  // The host's own value, made by the declared value's type code and filled through its CopyTo.
  std::unique_ptr<SabloDigitalDevice::IParameterValue> value;
  SabloDigitalDevice::ParameterId id;
};

struct OutputDefinition {
  std::string name;
  int code = 0;
  std::vector<std::string> components;
};

struct DeviceDefinition {
  std::string maker;
  std::string name;
  std::string version;
  std::string description;
  std::string category;
  std::string text1;
  std::string text2;
  std::vector<ParameterDefinition> parameters;
  std::vector<OutputDefinition> outputs;
  std::vector<std::string> syncInputs;

  // The parameter with this name, or null.
  const ParameterDefinition* FindParameter(const std::string& parameterName) const;
  bool HasSyncInput(const std::string& syncInputName) const;
};

// How a definition is named in the host's texts: maker, name and version.
std::string DefinitionIdentity(const std::string& maker, const std::string& name,
                               const std::string& version);

}  // namespace torva::host
