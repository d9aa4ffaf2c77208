#pragma once
// Reading the text fmDLLGetError copies, for the library's own tools and plugin:
//   "SerialNumber: <serial> ErrorCode: <code> ErrorMessage: <message>"
// (the serial part only when the error concerns an amplifier). An amplifier that left the bus
// while the library used it is recorded with its serial and the no-device result as the code; one
// the bring-up left out because another program holds it, with the busy result.

#include <optional>
#include <string>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/usb/usb_types.h"

namespace torva::api {

struct ErrorRecordFields {
  std::string serial;  // empty when the record names no amplifier
  std::string code;
  std::string message;
};

inline std::optional<ErrorRecordFields> ParseErrorRecord(const std::string& text) {
  static const std::string kSerial = "SerialNumber: ", kCode = " ErrorCode: ",
                           kMessage = " ErrorMessage: ";
  const std::size_t code = text.find(kCode);
  const std::size_t message = code == std::string::npos ? code : text.find(kMessage, code);
  if (message == std::string::npos) return std::nullopt;
  ErrorRecordFields fields;
  if (code > 0) {
    if (text.rfind(kSerial, 0) != 0) return std::nullopt;
    fields.serial = text.substr(kSerial.size(), code - kSerial.size());
  }
  fields.code = text.substr(code + kCode.size(), message - code - kCode.size());
  fields.message = text.substr(message + kMessage.size());
  return fields;
}

// The error record's text now ("" while the library holds none).
inline std::string CurrentErrorRecord() {
  char text[TORVA_ERROR_TEXT_BYTES] = {};
  return fmDLLGetError(text) == 1 ? std::string(text) : std::string();
}

// The serial of the amplifier a record names with `result` as its code; nothing for any other
// record.
inline std::optional<std::string> AmplifierSerialRecordedWith(const std::string& text,
                                                               usb::UsbResult result) {
  const auto fields = ParseErrorRecord(text);
  const std::string code = std::to_string(static_cast<unsigned>(result));
  if (!fields || fields->serial.empty() || fields->code != code) return std::nullopt;
  return fields->serial;
}

// The serial of the amplifier a record says left the bus.
inline std::optional<std::string> LostAmplifierSerial(const std::string& text) {
  return AmplifierSerialRecordedWith(text, usb::UsbResult::kNoDevice);
}

// The serial of the amplifier a record says the bring-up left out because another program
// holds it.
inline std::optional<std::string> InUseAmplifierSerial(const std::string& text) {
  return AmplifierSerialRecordedWith(text, usb::UsbResult::kBusy);
}

}  // namespace torva::api
