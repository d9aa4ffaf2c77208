// The one routine through which the control side sends commands to an amplifier.

#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"

namespace torva {

bool CThreadManager::IssueCommand(int slot, CommandCode code) {
  CUSBDevice* device = Device(slot);
  if (device == nullptr) return false;
  {
    SlotRecords& records = slots_[slot];
    std::lock_guard<std::mutex> guard(records.lock);
    device->LoadRuntimeBlock(records.runtime.get());
    device->LoadParameterBlock(records.parameters.get());
  }

  switch (code) {
    case CommandCode::kStart:
      holdFirstPacket_ = 0;
      return device->IsStreaming() || device->QueueCommand(code);
    case CommandCode::kStop:
      // A Start still in the queue makes the amplifier stream as soon as it goes out: the stop
      // must follow it.
      if (!device->IsStreaming() && !device->StartPending()) return false;
      device->AbortAndResetDataEndpoint();
      return device->QueueCommand(code);
    case CommandCode::kZero:
      if (device->IsStreaming()) {
        device->SendCommand(code);
        return true;
      }
      return device->QueueCommand(code);
    default:
      // A setting cannot change while the amplifier streams: stop it first. Acquisition is not
      // restarted afterwards.
      if (device->IsStreaming()) {
        device->StopStreaming();
        device->AbortAndResetDataEndpoint();
        device->QueueCommand(CommandCode::kStop);
      }
      return device->QueueCommand(code);
  }
}

}  // namespace torva
