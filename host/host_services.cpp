#include "host/host_services.h"

#include <algorithm>
#include <chrono>

namespace torva::host {

void HostServices::Log(const char* text, int severity) {
  LogLine line{severity, text != nullptr ? text : ""};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  if (echo_) echo_(line);
}

double HostServices::CurrentTime() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<LogLine> HostServices::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool HostServices::Logged(const std::string& text, int severity) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(lines_.begin(), lines_.end(), [&](const LogLine& line) {
    return line.severity == severity && line.text == text;
  });
}

void HostServices::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace torva::host
