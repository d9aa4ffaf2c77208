// Starting and stopping acquisition on every amplifier together.

#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"

namespace torva {

void CThreadManager::StopAcquisition() {
  const int count = deviceCount_.load();
  for (int position = 0; position < count; ++position) {
    if (order_[position] != -1) IssueCommand(order_[position], CommandCode::kStop);
  }
  for (int position = 0; position < count; ++position) {
    if (CUSBDevice* device = Device(order_[position])) device->StopStreaming();
  }
  stopped_ = 1;
}

}  // namespace torva
