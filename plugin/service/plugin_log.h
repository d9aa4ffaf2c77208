#pragma once
// The plugin's one way to write to the host's log: a template in printf style, formatted with
// Boost.Format, handed to IHostServices::Log with its severity (0 trace, 2 warning, 3 error).
// A template that its arguments do not fit is logged as it stands: a formatting error never
// escapes, and neither does anything the host's log throws.

#include <boost/format.hpp>
#include <string>
#include <utility>

#include "plugin/frame/call_barrier.h"
#include "plugin/frame/host_interface.h"

namespace Torva {

inline constexpr int kSeverityTrace = 0;
inline constexpr int kSeverityWarning = 2;
inline constexpr int kSeverityError = 3;

namespace detail {
inline void Feed(boost::format&) {}
template <typename First, typename... Rest>
void Feed(boost::format& format, const First& first, const Rest&... rest) {
  format % first;
  Feed(format, rest...);
}
}  // namespace detail

template <typename... Arguments>
void LogFormatted(SabloDigitalDevice::IHostServices* services, int severity,
                  const char* pattern, const Arguments&... arguments) noexcept {
  if (services == nullptr || pattern == nullptr) return;
  try {
    std::string text;
    try {
      boost::format format(pattern);
      detail::Feed(format, arguments...);
      text = format.str();
    } catch (...) {
      text = pattern;
    }
    services->Log(text.c_str(), severity);
  } catch (...) {
  }
}

namespace detail {
// What the barrier reports a failure of `what` to: an error in the host's log.
struct FailureLog {
  SabloDigitalDevice::IHostServices* services;
  const char* what;
  void operator()(const char* reason) const noexcept {
    if (reason != nullptr)
      LogFormatted(services, kSeverityError, "%s failed: %s", what, reason);
    else
      LogFormatted(services, kSeverityError, "%s failed", what);
  }
};
}  // namespace detail

// Runs `call`; anything it throws is logged as an error naming `what` ("The data pump", ...) and
// goes no further, so a failure on a worker thread never ends the process.
template <typename Call>
void RunLogged(SabloDigitalDevice::IHostServices* services, const char* what,
               Call&& call) noexcept {
  SabloDigitalDevice::Barrier(std::forward<Call>(call), detail::FailureLog{services, what});
}

// The same for a call that answers: what `call` returns, or `fallback` when it throws.
template <typename Result, typename Call>
Result RunLogged(SabloDigitalDevice::IHostServices* services, const char* what, Result fallback,
                 Call&& call) noexcept {
  return SabloDigitalDevice::Barrier(std::move(fallback), std::forward<Call>(call),
                                     detail::FailureLog{services, what});
}

}  // namespace Torva
