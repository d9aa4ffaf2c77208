#pragma once
// How the stand-in host answers a call that hands back a HostResult: the out-argument is cleared
// first (null is success), the call's body runs, and a refusal it returns becomes a counted result
// with the refusal's text. Nothing thrown inside the host leaves through the host interface: an
// exception becomes a refusal with its message.
//
// Threads: any; the helpers keep no state.

#include <exception>
#include <optional>
#include <string>

#include "host/host_result.h"
#include "plugin/frame/host_interface.h"

namespace torva::host {

// Why the host refused a call; empty when it accepted it.
using Refusal = std::optional<std::string>;

// Hands `text` back as a new result when the caller gave somewhere to put it.
void HandBack(SabloDigitalDevice::HostResult** result, const std::string& text) noexcept;

// Runs body (returning a Refusal) as the answer to a call with a result out-argument.
template <class Body>
void AnswerCall(SabloDigitalDevice::HostResult** result, Body&& body) noexcept {
  if (result != nullptr) *result = nullptr;
  try {
    const Refusal refusal = body();
    if (refusal) HandBack(result, *refusal);
  } catch (const std::exception& error) {
    HandBack(result, std::string("host failure: ") + error.what());
  } catch (...) {
    HandBack(result, "host failure");
  }
}

// The text behind a C string argument; a null pointer reads as empty.
inline std::string TextOf(const char* text) { return text != nullptr ? text : ""; }

}  // namespace torva::host
