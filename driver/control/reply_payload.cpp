#include "driver/control/reply_payload.h"

#include <cstring>

namespace torva {

bool StoreReplyPayload(CommandCode code, const std::uint8_t* payload,
                       AmplifierParameterBlock& parameters, DeviceRuntimeBlock& runtime) {
  switch (code) {
    case CommandCode::kReadAllParameters:
      std::memcpy(&parameters, payload, sizeof(AmplifierParameterBlock));
      return true;
    case CommandCode::kReadMechanicalLimits:
      std::memcpy(parameters.mechanicalLimits, payload, sizeof parameters.mechanicalLimits);
      runtime.mechanicalLimitsValid = 1;
      break;
    case CommandCode::kReadAutozeroPots:
      std::memcpy(runtime.autozeroPots, payload, sizeof runtime.autozeroPots);
      runtime.autozeroValid = 1;
      break;
    case CommandCode::kReadTare:
      std::memcpy(runtime.tareValues, payload, sizeof runtime.tareValues);
      runtime.tareValid = 1;
      break;
    case CommandCode::kReadAnalogLimits:
      std::memcpy(parameters.analogLimits, payload, sizeof parameters.analogLimits);
      runtime.analogLimitsValid = 1;
      break;
    case CommandCode::kReadDownloadStatus:
      std::memcpy(parameters.downloadStatus, payload, sizeof parameters.downloadStatus);
      runtime.downloadStatusValid = 1;
      break;
    default:
      break;  // other codes carry nothing the library keeps
  }
  return false;
}

}  // namespace torva
