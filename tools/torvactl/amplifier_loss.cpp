#include "tools/torvactl/amplifier_loss.h"

#include "driver/usb/usb_types.h"

namespace torvactl {
namespace {

constexpr const char* kSerialField = "SerialNumber: ";
constexpr const char* kCodeField = " ErrorCode: ";
constexpr const char* kMessageField = " ErrorMessage: ";

}  // namespace

std::optional<std::string> AmplifierLossWatch::Lost(const std::string& record) const {
  if (record.empty() || record == before_ || record.rfind(kSerialField, 0) != 0)
    return std::nullopt;
  const std::size_t code = record.find(kCodeField);
  const std::size_t message = record.find(kMessageField);
  if (code == std::string::npos || message == std::string::npos || message < code)
    return std::nullopt;
  const std::size_t codeStart = code + std::string(kCodeField).size();
  const std::string noDevice =
      std::to_string(static_cast<unsigned>(torva::usb::UsbResult::kNoDevice));
  if (record.compare(codeStart, message - codeStart, noDevice) != 0) return std::nullopt;
  const std::size_t serialStart = std::string(kSerialField).size();
  return record.substr(serialStart, code - serialStart);
}

}  // namespace torvactl
