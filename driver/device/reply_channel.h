#pragma once
// The replies of one amplifier: the buffer the device thread reads a reply into, how many reply
// blocks the last command asked for, and the ring of kSlots entries the replies are stored in for
// the control thread, which is told an entry's number by message and copies the entry out.
//
// Threads and locking: guarded by the owning device's lock (CUSBDevice::lock_), given to the
// channel at construction. Every member is called with that lock held, except:
// - ReadBuffer(), which the device thread alone uses, without the lock, while it reads a reply
//   (the lock is never held across a transfer);
// - CopySlot(), which any thread calls without the lock: it takes the lock itself.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "driver/device/command_packet.h"
#include "platform/sync.h"

namespace torva {

class ReplyChannel {
 public:
  static constexpr int kSlots = 10;
  static constexpr std::size_t kEntryBytes = 1320;

  explicit ReplyChannel(platform::CriticalSection& deviceLock);

  // A command went out that is answered with `blocks` blocks (0: none).
  void Expect(int blocks) { expectedBlocks_ = blocks; }
  // Whether a reply is due: asked for and not yet read.
  bool Due() const { return expectedBlocks_ > 0; }
  // The bytes to read for the due reply (at most the read buffer's size).
  std::size_t DueBytes() const;
  std::uint8_t* ReadBuffer() { return read_.data(); }
  // Reading the due reply failed: none is due any more.
  void Abandon() { expectedBlocks_ = 0; }

  struct Stored {
    int slot = 0;
    std::optional<ReplyPacketView> reply;  // points into the ring entry
  };
  // Stores `length` bytes of a reply (at most kEntryBytes), zero-padded to a whole entry, in the
  // next ring entry and moves on; no reply is due any more. Returns the entry and the parsed reply.
  Stored Store(const std::uint8_t* reply, std::size_t length);
  // Copies a ring entry (code in byte 1, status in byte 5, payload from byte 16) into `out`, which
  // holds kEntryBytes; false for a slot outside the ring.
  bool CopySlot(int slot, std::uint8_t* out) const;

 private:
  platform::CriticalSection& deviceLock_;
  std::vector<std::uint8_t> ring_;  // kSlots x kEntryBytes
  ReplyPacketBuffer read_{};
  int position_ = 0;
  int expectedBlocks_ = 0;
};

}  // namespace torva
