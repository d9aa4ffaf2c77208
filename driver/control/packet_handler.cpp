// The packet handler: takes each announced streaming packet into the frame being assembled and
// announces completed frames to the caller.

#include "driver/control/library_locks.h"
#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
#include "driver/device/device_messages.h"

namespace torva {

void CThreadManager::OnPacketArrived(platform::WParam wParam, platform::LParam lParam) {
  platform::CriticalSectionLock lock(AssemblyLock());
  if (suspended_) return;
  const auto slot = static_cast<int>(lParam);
  if (slot < 0 || slot >= assembler_.DeviceCount()) return;
  // A packet read by a run that has been stopped since (its announcement was still queued) is
  // left alone: its ring slot may already belong to the next run. Checked under the assembly
  // lock, which a new start takes before its Start goes out, so the slot cannot change while the
  // packet is taken.
  const CUSBDevice* device = Device(slot);
  if (device == nullptr || PacketRun(wParam) != device->StreamingRun()) return;
  const int position = positionOfSlot_[static_cast<std::size_t>(slot)];
  const int format = dataFormat_.load();

  const bool firstOfFrame =
      assembler_.Announce(slot, position, holdFirstPacket_.load() != 0, *this, format);
  if (firstOfFrame && ordering_.Active()) RunLoadTest(slot, position, PacketRingSlot(wParam));

  const bool deliver = deliveryEnabled_.load() != 0;
  const int completed = assembler_.TryComplete(*this, format, deliver, positionOfSlot_);
  if (completed >= 0 && deliver) NotifyFrame(completed);
}

const std::uint8_t* CThreadManager::Packet(int slot, int ringIndex, int& packetSize) const {
  const CUSBDevice* device = Device(slot);
  if (device == nullptr) return nullptr;
  const CUSBDevice::DataSlotView view = device->DataSlot(ringIndex);
  packetSize = view.packetSize;
  return view.data;
}

void CThreadManager::NotifyFrame(int ringIndex) {
  if (dataReadyFlag_.load() == 0) return;
  const auto index = static_cast<platform::WParam>(ringIndex);
  switch (Target()) {
    case NotifyTarget::kThread:
      platform::PostThreadMessage(targetThread_.load(), kMsgDataReadyThread, index, 0);
      break;
    case NotifyTarget::kWindow:
      platform::PostWindowMessage(targetWindow_.load(), kMsgDataReadyWindow, index, 0);
      break;
    case NotifyTarget::kNone:
      break;
  }
}

void CThreadManager::UpdatePositions() {
  positionOfSlot_.fill(0);
  const int count = deviceCount_.load();
  // The first position that names a slot is its position.
  for (int position = count - 1; position >= 0; --position) {
    const int slot = order_[static_cast<std::size_t>(position)];
    if (slot >= 0 && slot < kMaxAmplifiers) positionOfSlot_[static_cast<std::size_t>(slot)] = position;
  }
}

}  // namespace torva
