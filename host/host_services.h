#pragma once
// The stand-in host's services: a log that keeps every line the plugin writes (severity and text,
// in order; tests read it, the host program prints it) and a clock. The clock runs at
// kClockRate ticks per second, which every sample rate of the plugin divides, so ticks per sample
// are whole numbers; CurrentTime is the steady clock in seconds.
//
// Threads: any; the log is guarded by its own lock.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/frame/host_interface.h"

namespace torva::host {

struct LogLine {
  int severity = 0;
  std::string text;
};

class HostServices final : public SabloDigitalDevice::IHostServices {
 public:
  static constexpr std::uint64_t kClockRate = 36000000;

  // Every line is also handed to `echo` when one is set (the host program prints them).
  explicit HostServices(std::function<void(const LogLine&)> echo = {}) : echo_(std::move(echo)) {}

  void Log(const char* text, int severity) override;
  std::uint64_t ClockRate() override { return kClockRate; }
  void Reserved2() override {}
  double CurrentTime() override;

  std::vector<LogLine> Lines() const;
  // Whether a line with exactly this text and severity was logged.
  bool Logged(const std::string& text, int severity) const;
  void ClearLog();

 private:
  std::function<void(const LogLine&)> echo_;
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
};

}  // namespace torva::host
