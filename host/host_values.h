#pragma once
// The host's side of parameter values: the host keeps its own value objects, made by type code,
// and reads any value (its own or the plugin's) only through the value's CopyTo, never by looking
// into the object, since the plugin's value classes are its own build of the interface.
//
// Threads: any; nothing here keeps state.

#include <cstdint>
#include <memory>
#include <vector>

#include "plugin/devices/parameter_value.h"

namespace torva::host {

// A value's byte form, as its CopyTo writes it.
using ValueBytes = std::vector<std::uint8_t>;

// A new host value of the class with this type code, with the class's initial fields; null for a
// code that no value class has.
std::unique_ptr<SabloDigitalDevice::IParameterValue> MakeHostValue(std::int32_t typeCode);

// Reads the byte form `value` writes through its CopyTo into bytes; false when CopyTo fails.
bool ReadValueBytes(const SabloDigitalDevice::IParameterValue& value, ValueBytes& bytes);

}  // namespace torva::host
