#pragma once
// Tells from the library's error record whether an amplifier left the bus. The record reads
// "SerialNumber: <serial> ErrorCode: <code> ErrorMessage: <message>"; the library writes the
// no-device result as the code when an amplifier it uses is gone. The record keeps its last error,
// so a loss is one whose text differs from the record's text before the run.

#include <optional>
#include <string>

namespace torvactl {

class AmplifierLossWatch {
 public:
  // `before`: the record's text before the run ("" when it held none).
  explicit AmplifierLossWatch(std::string before) : before_(std::move(before)) {}
  // The serial of the amplifier the record says was lost, when `record` (its text now, "" when
  // it holds none) reports a loss it did not report before.
  std::optional<std::string> Lost(const std::string& record) const;

 private:
  std::string before_;
};

}  // namespace torvactl
