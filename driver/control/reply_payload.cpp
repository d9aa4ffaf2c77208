#include "driver/control/reply_payload.h"

#include <cstddef>
#include <cstring>

namespace torva {
namespace {

// Where a reply code's payload goes: `bytes` at `offset` of the parameter block or of the runtime
// block, and the runtime flag that says it is valid (none for the whole parameter block).
struct PayloadPlace {
  CommandCode code;
  bool inParameters;
  std::size_t offset;
  std::size_t bytes;
  std::int32_t DeviceRuntimeBlock::*valid;
};

constexpr PayloadPlace kPlaces[] = {
    {CommandCode::kReadAllParameters, true, 0, sizeof(AmplifierParameterBlock), nullptr},
    {CommandCode::kReadMechanicalLimits, true, offsetof(AmplifierParameterBlock, mechanicalLimits),
     sizeof(AmplifierParameterBlock::mechanicalLimits), &DeviceRuntimeBlock::mechanicalLimitsValid},
    {CommandCode::kReadAutozeroPots, false, offsetof(DeviceRuntimeBlock, autozeroPots),
     sizeof(DeviceRuntimeBlock::autozeroPots), &DeviceRuntimeBlock::autozeroValid},
    {CommandCode::kReadTare, false, offsetof(DeviceRuntimeBlock, tareValues),
     sizeof(DeviceRuntimeBlock::tareValues), &DeviceRuntimeBlock::tareValid},
    {CommandCode::kReadAnalogLimits, true, offsetof(AmplifierParameterBlock, analogLimits),
     sizeof(AmplifierParameterBlock::analogLimits), &DeviceRuntimeBlock::analogLimitsValid},
    {CommandCode::kReadDownloadStatus, true, offsetof(AmplifierParameterBlock, downloadStatus),
     sizeof(AmplifierParameterBlock::downloadStatus), &DeviceRuntimeBlock::downloadStatusValid},
};

}  // namespace

bool StoreReplyPayload(CommandCode code, const std::uint8_t* payload,
                       AmplifierParameterBlock& parameters, DeviceRuntimeBlock& runtime) {
  for (const PayloadPlace& place : kPlaces) {
    if (place.code != code) continue;
    auto* record = place.inParameters ? reinterpret_cast<std::uint8_t*>(&parameters)
                                      : reinterpret_cast<std::uint8_t*>(&runtime);
    std::memcpy(record + place.offset, payload, place.bytes);
    if (place.valid != nullptr) runtime.*place.valid = 1;
    return code == CommandCode::kReadAllParameters;
  }
  return false;  // other codes carry nothing the library keeps
}

}  // namespace torva
