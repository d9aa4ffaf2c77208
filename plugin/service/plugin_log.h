#pragma once
// The plugin's one way to write to the host's log: a template in printf style, formatted with
// Boost.Format, handed to IHostServices::Log with its severity (0 trace, 2 warning, 3 error).
// A template that its arguments do not fit is logged as it stands: a formatting error never
// escapes, and neither does anything the host's log throws.

#include <boost/format.hpp>
#include <exception>
#include <string>

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

// Runs `call`; anything it throws is logged as an error naming `what` ("The data pump", ...) and
// goes no further, so a failure on a worker thread never ends the process.
template <typename Call>
void RunLogged(SabloDigitalDevice::IHostServices* services, const char* what,
               Call&& call) noexcept {
  try {
    call();
  } catch (const std::exception& error) {
    LogFormatted(services, kSeverityError, "%s failed: %s", what, error.what());
  } catch (...) {
    LogFormatted(services, kSeverityError, "%s failed", what);
  }
}

}  // namespace Torva
