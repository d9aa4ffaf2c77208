#include "driver/device/command_queue.h"

#include "driver/device/command_set.h"

namespace torva {

CommandQueue::CommandQueue() = default;

bool CommandQueue::Push(int code) {
  if (queued_ >= kSlots) {
    ++refused_;
    return false;
  }
  Slot& slot = slots_[static_cast<std::size_t>(writePosition_)];
  slot.code = code;
  slot.pending = true;
  slot.sends = 0;
  writePosition_ = (writePosition_ + 1) % kSlots;
  ++queued_;
  return true;
}

std::optional<int> CommandQueue::NextToSend() const {
  if (queued_ == 0) return std::nullopt;
  const Slot& front = slots_[static_cast<std::size_t>(readPosition_)];
  const Slot& before = slots_[static_cast<std::size_t>((readPosition_ + kSlots - 1) % kSlots)];
  // The slot before the front is still pending only when every slot is taken; a full queue must
  // drain like any other.
  if (before.pending && queued_ < kSlots) return std::nullopt;
  if (front.code == kEmpty) return std::nullopt;
  return front.code;
}

bool CommandQueue::Contains(int code) const {
  for (int i = 0; i < queued_; ++i)
    if (slots_[static_cast<std::size_t>((readPosition_ + i) % kSlots)].code == code) return true;
  return false;
}

void CommandQueue::AfterSend(bool confirmed) {
  lastSentSlot_ = readPosition_;
  Slot& front = slots_[static_cast<std::size_t>(readPosition_)];
  const bool done = frontAnswered_ && (!confirmed || frontStatus_ == kReplyStatusDone);
  if (done || ++front.sends >= kMaxSends) CompleteFront(confirmed);
}

void CommandQueue::RecordReply(std::uint8_t status) {
  lastReplyStatus_ = status;
  if (queued_ > 0 && lastSentSlot_ == readPosition_) {
    frontAnswered_ = true;
    frontStatus_ = status;
  }
}

void CommandQueue::CompleteFront(bool confirmed) {
  slots_[static_cast<std::size_t>(readPosition_)] = Slot{};
  readPosition_ = (readPosition_ + 1) % kSlots;
  --queued_;
  frontAnswered_ = false;
  frontStatus_ = 0;
  if (confirmed) lastReplyStatus_ = 0;
}

}  // namespace torva
