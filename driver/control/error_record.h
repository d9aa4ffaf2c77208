#pragma once
// The error record read by fmDLLGetError: a flag that stays set once an error was recorded, and a
// 260-byte text "SerialNumber: <serial> ErrorCode: <code> ErrorMessage: <message>" (the serial
// part only when a serial number is given). Written by the control thread or the caller's thread,
// read by the caller; the text is guarded by the record's own mutex.

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "driver/control/control_limits.h"

namespace torva {

class ErrorRecord {
 public:
  // Records an error. `code` is written as given (the setup check passes the status as decimal
  // text, a failed save an empty code); `serial` may be empty.
  void Set(const std::string& serial, const std::string& code, const std::string& message);
  // Copies the 260-byte text into `out` when the flag is set; returns the flag.
  int CopyTo(char* out) const;
  int Flag() const { return flag_.load(); }
  std::string Text() const;

 private:
  std::atomic<int> flag_{0};
  mutable std::mutex mutex_;
  std::array<char, kErrorTextBytes> text_{};
};

}  // namespace torva
