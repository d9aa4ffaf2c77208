#include "driver/device/reply_channel.h"

#include <algorithm>
#include <cstring>

namespace torva {

ReplyChannel::ReplyChannel(platform::CriticalSection& deviceLock)
    : deviceLock_(deviceLock), ring_(kSlots * kEntryBytes, 0) {}

std::size_t ReplyChannel::DueBytes() const {
  return std::min(kBlockBytes * static_cast<std::size_t>(expectedBlocks_), read_.size());
}

ReplyChannel::Stored ReplyChannel::Store(const std::uint8_t* reply, std::size_t length) {
  expectedBlocks_ = 0;
  Stored stored;
  stored.slot = position_;
  std::uint8_t* entry = ring_.data() + static_cast<std::size_t>(position_) * kEntryBytes;
  length = std::min(length, kEntryBytes);
  std::memset(entry, 0, kEntryBytes);
  std::memcpy(entry, reply, length);
  stored.reply = ParseReplyPacket(entry, length);
  position_ = (position_ + 1) % kSlots;
  return stored;
}

bool ReplyChannel::CopySlot(int slot, std::uint8_t* out) const {
  if (slot < 0 || slot >= kSlots || out == nullptr) return false;
  platform::CriticalSectionLock lock(deviceLock_);
  std::memcpy(out, ring_.data() + static_cast<std::size_t>(slot) * kEntryBytes, kEntryBytes);
  return true;
}

}  // namespace torva
