#pragma once
// The diagnostic log: one line per event on standard error, off unless a user switches it on.
//
// The level comes from the environment variable TORVA_DEBUG, read once at the first check:
// 1 errors, 2 errors and warnings, 3 everything (unset, 0 or anything else: off). A program may
// set the variable before its first library call (torvactl --verbose does) or call
// SetDiagnosticLevel. A line reads
//   2026-12-09T13:53:01.123456Z torva[12345] W usb_device.cpp:120: text
// (time in UTC, kernel thread identifier, level letter, place, text) and goes out in one write,
// so lines of different threads never interleave.
//
// Threads: any thread. Cost when off: one relaxed atomic load and a branch per call site; the
// text is only formatted when the level lets the line through. Nothing here throws.

#include <atomic>

namespace torva::platform {

enum class DiagnosticLevel : int { kOff = 0, kError = 1, kWarning = 2, kInfo = 3 };

namespace detail {
// -1 until the environment has been read.
extern std::atomic<int> gDiagnosticLevel;
int ReadDiagnosticLevelFromEnvironment() noexcept;
}  // namespace detail

inline bool DiagnosticEnabled(DiagnosticLevel level) noexcept {
  int active = detail::gDiagnosticLevel.load(std::memory_order_relaxed);
  if (active < 0) active = detail::ReadDiagnosticLevelFromEnvironment();
  return static_cast<int>(level) <= active;
}

// Whether the n-th occurrence (counting from 1) of an event that may repeat on every packet is
// logged: the first ten, then every thousandth, so that such an event cannot flood the log.
constexpr bool LogOccurrence(long long n) noexcept { return n <= 10 || n % 1000 == 0; }

// Overrides the level read from the environment (kOff silences the log).
void SetDiagnosticLevel(DiagnosticLevel level) noexcept;

// Formats and writes one line (printf-style). Call through TORVA_LOG, which checks the level first.
void WriteDiagnosticLine(DiagnosticLevel level, const char* file, int line, const char* format,
                         ...) noexcept __attribute__((format(printf, 4, 5)));

}  // namespace torva::platform

#define TORVA_LOG(level, ...)                                                                  \
  do {                                                                                         \
    if (::torva::platform::DiagnosticEnabled(::torva::platform::DiagnosticLevel::level)) {     \
      ::torva::platform::WriteDiagnosticLine(::torva::platform::DiagnosticLevel::level,        \
                                             __FILE__, __LINE__, __VA_ARGS__);                 \
    }                                                                                          \
  } while (false)

// Logs the `count`-th occurrence of a repeating event when LogOccurrence lets it through; the
// count is only looked at when the level is on.
#define TORVA_LOG_OCCURRENCE(level, count, ...)                                                \
  do {                                                                                         \
    if (::torva::platform::DiagnosticEnabled(::torva::platform::DiagnosticLevel::level) &&     \
        ::torva::platform::LogOccurrence(count)) {                                             \
      ::torva::platform::WriteDiagnosticLine(::torva::platform::DiagnosticLevel::level,        \
                                             __FILE__, __LINE__, __VA_ARGS__);                 \
    }                                                                                          \
  } while (false)

#define TORVA_LOG_ERROR(...) TORVA_LOG(kError, __VA_ARGS__)
#define TORVA_LOG_WARNING(...) TORVA_LOG(kWarning, __VA_ARGS__)
#define TORVA_LOG_INFO(...) TORVA_LOG(kInfo, __VA_ARGS__)
