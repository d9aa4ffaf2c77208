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
  if (queued_ == 0 || awaitingReply_) return std::nullopt;
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

void CommandQueue::AfterSend(SendOutcome outcome, bool confirmed) {
  if (queued_ == 0) return;
  Slot& front = slots_[static_cast<std::size_t>(readPosition_)];
  switch (outcome) {
    case SendOutcome::kNothingSent:
      CompleteFront();
      break;
    case SendOutcome::kFailed:
      ++front.sends;
      Refuse();
      break;
    case SendOutcome::kAwaitingReply:
      ++front.sends;
      awaitingReply_ = true;
      awaitingConfirmed_ = confirmed;
      break;
    case SendOutcome::kNoReply:
      if (++front.sends >= kMaxSends) CompleteFront();
      break;
  }
}

void CommandQueue::OnReply(bool read, std::uint8_t status) {
  if (read) lastReplyStatus_ = status;
  if (!awaitingReply_) return;
  awaitingReply_ = false;
  if (read && (!awaitingConfirmed_ || status == kReplyStatusDone))
    CompleteFront();
  else
    Refuse();
}

void CommandQueue::Refuse() {
  if (slots_[static_cast<std::size_t>(readPosition_)].sends >= kMaxSends) CompleteFront();
}

void CommandQueue::CompleteFront() {
  slots_[static_cast<std::size_t>(readPosition_)] = Slot{};
  readPosition_ = (readPosition_ + 1) % kSlots;
  --queued_;
  awaitingReply_ = false;
}

}  // namespace torva
