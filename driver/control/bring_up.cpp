// Bring-up: finds the amplifiers, creates one device thread per amplifier and starts reading every
// amplifier's parameters. Runs on the caller's thread inside fmDLLInit, and on the control thread
// once every device thread of a previous bring-up has ended.

#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"

namespace torva {

void CThreadManager::OnDeviceThreadEnded(platform::WParam wParam, platform::LParam /*lParam*/) {
  BringUp(wParam);
}

void CThreadManager::BringUp(platform::WParam wParam) {
  const int exited = ++exitedThreads_;
  if (exited != deviceCount_.load() && wParam != kBringUpDirect) return;

  devices_.fill(nullptr);
  deviceHandles_.fill(nullptr);
  deviceThreads_.fill(0);
  order_.fill(-1);
  newOrder_.fill(-1);
  dropped_.fill(0);
  lastCounter_.fill(0);
  exitedThreads_ = 0;

  // The first device reports how many amplifiers the bus holds; until then assume one.
  deviceCount_ = 1;
  for (int slot = 0; slot < deviceCount_.load(); ++slot) {
    if (!CreateDevice(slot)) {
      pollState_ = kPollWaitingForReplies;
      return;
    }
  }

  const int count = deviceCount_.load();
  for (int slot = 0; slot < count; ++slot) {
    order_[slot] = slot;
    selectedSlot_ = slot;
    std::lock_guard<std::mutex> guard(slots_[slot].lock);
    if (slots_[slot].runtime) slots_[slot].runtime->packetSize = kDefaultPacketSize;
  }
  if (count > 0) StartParameterRefresh();
  exitedThreads_ = 0;
  holdFirstPacket_ = 0;
}

bool CThreadManager::CreateDevice(int slot) {
  slots_[slot].AllocateZeroed();
  // No amplifier device layer is linked into this build yet, so no amplifier can be opened: the
  // slot is given up as an amplifier that failed to open.
  deviceCount_ = deviceCount_.load() - 1;
  return false;
}

void CThreadManager::StartParameterRefresh() {
  parameterReplies_ = 0;
  stopAcknowledgements_ = 0;
  pollState_ = kPollWaitingForReplies;
  smartPlateCheckPending_ = 1;
}

}  // namespace torva
