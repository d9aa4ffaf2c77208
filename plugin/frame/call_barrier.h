#pragma once
// The barrier every call from the host goes through: nothing the plugin throws goes back across
// the host interface. A call that throws has its failure reported and answers with a safe value
// instead (false, nothing, or the object left as it was).
//
// Used both by objects with a log (plugin_log.h's RunLogged) and by objects without one, such as
// parameter values, which report nothing (Unreported).

#include <exception>
#include <utility>

namespace SabloDigitalDevice {

// The report of an object without a log: a failed call only answers with its safe value.
inline void Unreported(const char* /*reason*/) noexcept {}

// Runs `call` and returns what it returns. When it throws, `report` is given the failure's text
// (null when what was thrown is no std::exception) and `fallback` is returned. `report` must not
// throw.
template <typename Result, typename Call, typename Report>
Result Barrier(Result fallback, Call&& call, Report&& report) noexcept {
  try {
    return std::forward<Call>(call)();
  } catch (const std::exception& error) {
    report(error.what());
  } catch (...) {
    report(nullptr);
  }
  return fallback;
}

// The same for a call that returns nothing.
template <typename Call, typename Report>
void Barrier(Call&& call, Report&& report) noexcept {
  Barrier(
      true,
      [&call] {
        std::forward<Call>(call)();
        return true;
      },
      std::forward<Report>(report));
}

}  // namespace SabloDigitalDevice
