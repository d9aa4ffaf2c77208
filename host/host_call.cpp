#include "host/host_call.h"

namespace torva::host {

void HandBack(SabloDigitalDevice::HostResult** result, const std::string& text) noexcept {
  if (result == nullptr) return;
  try {
    *result = CountedResult::Make(text);
  } catch (...) {
    // Out of memory even for the result: the refusal cannot be reported and reads as success.
    *result = nullptr;
  }
}

}  // namespace torva::host
