#include "host/host_result.h"

#include <utility>

namespace torva::host {

std::atomic<long> CountedResult::alive_{0};

SabloDigitalDevice::HostResult* CountedResult::Make(std::string text) {
  ++alive_;
  return new CountedResult(std::move(text));
}

void CountedResult::Release() {
  if (references_.fetch_sub(1) != 1) return;
  --alive_;
  delete this;
}

}  // namespace torva::host
