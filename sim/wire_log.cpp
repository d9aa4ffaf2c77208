#include "sim/wire_log.h"

#include <utility>

#include "driver/device/command_set.h"

namespace torva::sim {

std::optional<int> WireRecord::CommandCode() const {
  constexpr std::size_t kCodeByte = 1;
  const bool commandRequest =
      setup.request == kCommandRequest || setup.request == kReadBackRequest;
  if (event != WireEvent::kControlOut || setup.requestType != kVendorOutRequestType ||
      !commandRequest || data.size() <= kCodeByte) {
    return std::nullopt;
  }
  return data[kCodeByte];
}

bool WireRecord::IsReplyRequest() const {
  return event == WireEvent::kControlIn && setup.requestType == kVendorInRequestType &&
         (setup.request == kReplyRequest || setup.request == kConfirmReplyRequest);
}

void WireLog::Add(WireRecord record) {
  record.data.shrink_to_fit();
  bytes_ += CostOf(record);
  records_.push_back(std::move(record));
  while (bytes_ > kByteBudget && !records_.empty()) {
    bytes_ -= CostOf(records_.front());
    records_.pop_front();
    ++dropped_;
  }
}

}  // namespace torva::sim
