#include "host/host_log.h"

#include <chrono>
#include <ctime>
#include <iomanip>

#include "host/display_text.h"

namespace torva::host {

namespace {

// Local wall-clock time with milliseconds, as "2024-05-01 12:34:56.789".
std::string TimeStamp() {
  constexpr int kMillisecondsPerSecond = 1000;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
      kMillisecondsPerSecond;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  char withMilliseconds[48];
  std::snprintf(withMilliseconds, sizeof withMilliseconds, "%s.%03d", text,
                static_cast<int>(milliseconds));
  return withMilliseconds;
}

}  // namespace

std::string SeverityName(int severity) {
  switch (severity) {
    case kTraceSeverity:
      return "trace";
    case kInfoSeverity:
      return "info";
    case kWarningSeverity:
      return "warning";
    case kErrorSeverity:
      return "error";
    default:
      return "severity " + std::to_string(severity);
  }
}

std::optional<std::string> HostLog::OpenFile(const std::string& path) {
  std::string error;
  auto file = OutputFile::Open(path, error, OutputFile::Placement::kInPlace);
  if (!file) return error;
  std::lock_guard<std::mutex> lock(mutex_);
  file_ = std::move(file);
  return std::nullopt;
}

std::optional<std::string> HostLog::FileFailure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_ ? file_->Failure() : std::nullopt;
}

bool HostLog::CloseFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !file_ || file_->Keep();
}

void HostLog::Write(const LogLine& line) {
  const std::string text = DisplayText(line.text);
  const std::string severity = SeverityName(line.severity);
  std::lock_guard<std::mutex> lock(mutex_);
  if (line.severity == kWarningSeverity) ++warnings_;
  if (line.severity >= kErrorSeverity) ++errors_;
  if (file_) file_->Stream() << TimeStamp() << ' ' << severity << ' ' << text << '\n' << std::flush;
  if (line.severity != kTraceSeverity || verbose_) {
    std::fprintf(errorStream_, "[%s] %s\n", severity.c_str(), text.c_str());
  }
}

int HostLog::Warnings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return warnings_;
}

int HostLog::Errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

}  // namespace torva::host
