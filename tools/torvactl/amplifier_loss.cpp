#include "tools/torvactl/amplifier_loss.h"

#include "driver/api/error_record_text.h"

namespace torvactl {

std::optional<std::string> AmplifierLossWatch::Lost(const std::string& record) const {
  if (record == before_) return std::nullopt;
  return torva::api::LostAmplifierSerial(record);
}

}  // namespace torvactl
