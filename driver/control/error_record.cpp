#include "driver/control/error_record.h"

#include <cstring>

namespace torva {

void ErrorRecord::Set(const std::string& serial, const std::string& code,
                      const std::string& message) {
  std::string text;
  if (!serial.empty()) text = "SerialNumber: " + serial;
  text += " ErrorCode: " + code + " ErrorMessage: " + message;
  std::lock_guard<std::mutex> lock(mutex_);
  text_.fill('\0');
  std::memcpy(text_.data(), text.data(), std::min(text.size(), text_.size() - 1));
  flag_ = 1;
}

int ErrorRecord::CopyTo(char* out) const {
  const int flag = flag_.load();
  if (flag == 1 && out != nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(out, text_.data(), text_.size());
  }
  return flag;
}

std::string ErrorRecord::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::string(text_.data());
}

}  // namespace torva
