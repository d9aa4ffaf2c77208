#include "platform/diagnostic_log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace torva::platform {
namespace detail {

std::atomic<int> gDiagnosticLevel{-1};

int ReadDiagnosticLevelFromEnvironment() noexcept {
  int level = static_cast<int>(DiagnosticLevel::kOff);
  if (const char* text = std::getenv("TORVA_DEBUG"); text != nullptr && text[0] != '\0' &&
                                                     text[1] == '\0' && text[0] >= '1' &&
                                                     text[0] <= '3') {
    level = text[0] - '0';
  }
  // A racing SetDiagnosticLevel wins over the environment.
  int expected = -1;
  if (!gDiagnosticLevel.compare_exchange_strong(expected, level, std::memory_order_relaxed)) {
    return expected;
  }
  return level;
}

}  // namespace detail

namespace {

constexpr std::size_t kLineBytes = 512;

char LevelLetter(DiagnosticLevel level) {
  switch (level) {
    case DiagnosticLevel::kError: return 'E';
    case DiagnosticLevel::kWarning: return 'W';
    default: return 'I';
  }
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

void SetDiagnosticLevel(DiagnosticLevel level) noexcept {
  detail::gDiagnosticLevel.store(static_cast<int>(level), std::memory_order_relaxed);
}

void WriteDiagnosticLine(DiagnosticLevel level, const char* file, int line, const char* format,
                         ...) noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);

  char text[kLineBytes];
  int length = std::snprintf(text, sizeof text, "%s.%06ldZ torva[%ld] %c %s:%d: ", stamp,
                             now.tv_nsec / 1000, static_cast<long>(syscall(SYS_gettid)),
                             LevelLetter(level), BaseName(file), line);
  if (length < 0) return;
  std::size_t used = static_cast<std::size_t>(length) < sizeof text - 1
                         ? static_cast<std::size_t>(length) : sizeof text - 1;
  va_list arguments;
  va_start(arguments, format);
  const int added = std::vsnprintf(text + used, sizeof text - used, format, arguments);
  va_end(arguments);
  if (added > 0) used += static_cast<std::size_t>(added);
  // A line cut by the buffer still ends with its line end.
  if (used > sizeof text - 2) used = sizeof text - 2;
  text[used++] = '\n';
  const ssize_t ignored = ::write(STDERR_FILENO, text, used);
  static_cast<void>(ignored);
}

}  // namespace torva::platform
