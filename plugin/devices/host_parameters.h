#pragma once
// How a device exchanges parameters with its host: publishes a descriptor's value, reads the
// host's value into it, and takes the identifiers the host says changed. Results are released and
// otherwise ignored; a refused exchange leaves the device's value as it was.

#include <cstdint>
#include <vector>

#include "plugin/devices/parameter_descriptor.h"
#include "plugin/frame/host_interface.h"

namespace Torva {

template <class Descriptor>
void PublishToHost(SabloDigitalDevice::IDeviceHost* host, Descriptor& descriptor) {
  SabloDigitalDevice::HostResult* result = nullptr;
  host->SetParameter(&result, &descriptor.value, descriptor.name.c_str(), "");
  SabloDigitalDevice::ReleaseResult(result);
}

template <class Descriptor>
void ReadFromHost(SabloDigitalDevice::IDeviceHost* host, Descriptor& descriptor) {
  SabloDigitalDevice::HostResult* result = nullptr;
  host->GetParameter(&result, &descriptor.value, descriptor.name.c_str(), "");
  SabloDigitalDevice::ReleaseResult(result);
}

// The identifiers the host reports changed since the last call. The host writes how many it
// stored; never more are kept than the array it was given holds.
inline std::vector<SabloDigitalDevice::ParameterId> TakeChangedParameters(
    SabloDigitalDevice::IDeviceHost* host, std::uint32_t& changeKey) {
  const std::uint32_t reported = host->ChangedParameterCount();
  std::vector<SabloDigitalDevice::ParameterId> changed(reported);
  std::uint32_t count = 0;
  SabloDigitalDevice::HostResult* result = nullptr;
  host->GetChangedParameters(&result, &changeKey, changed.data(), &count);
  SabloDigitalDevice::ReleaseResult(result);
  changed.resize(count < reported ? count : reported);
  return changed;
}

}  // namespace Torva
