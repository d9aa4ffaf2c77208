// The one routine through which the control side sends commands to an amplifier.

#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"

namespace torva {
namespace {

// Stops an amplifier's streaming. The order matters: once the abort has ended the pending bulk
// read, the device thread must find reading switched off and the Stop waiting, or it starts
// another read, which an amplifier that sends nothing (yet) never ends.
bool StopDevice(CUSBDevice& device) {
  device.StopStreaming();
  const bool queued = device.QueueCommand(CommandCode::kStop);
  device.AbortAndResetDataEndpoint();
  return queued;
}

}  // namespace

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
      return StopDevice(*device);
    case CommandCode::kZero:
      if (device->IsStreaming()) {
        device->SendCommand(code);
        return true;
      }
      return device->QueueCommand(code);
    default:
      // A setting cannot change while the amplifier streams: stop it first. Acquisition is not
      // restarted afterwards.
      if (device->IsStreaming()) StopDevice(*device);
      return device->QueueCommand(code);
  }
}

}  // namespace torva
