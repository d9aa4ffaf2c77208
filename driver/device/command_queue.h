#pragma once
// The 20-slot queue of command codes that a device thread sends one at a time, with the rules
// that decide when the command at the front is complete.
//
// A command stays at the front and is sent again on every pass until it completes. Replies are
// read at the start of the pass after a send, so each reply belongs to the command sent last:
// - a confirmed command completes when it is sent after one of its own replies said "done" (1);
// - an unconfirmed command completes when it is sent after any reply of its own;
// - either is dropped after its third send.
// A lone command with a reply is therefore sent twice, and answered twice; the control thread's
// count of parameter replies relies on that. A reply that belongs to a command already completed
// never decides the next one.
//
// Not thread-safe: the owning device serialises every call with its device lock.

#include <array>
#include <cstdint>
#include <optional>

namespace torva {

class CommandQueue {
 public:
  static constexpr int kSlots = 20;
  // A command that has not completed after this many sends is dropped.
  static constexpr int kMaxSends = 3;
  static constexpr int kEmpty = -1;

  CommandQueue();

  // Appends a code. A full queue refuses it (nothing queued is overwritten) and counts the
  // refusal.
  bool Push(int code);

  // The code to send on this pass, if any.
  std::optional<int> NextToSend() const;
  // Called right after the front command was sent: completes it or counts the send.
  void AfterSend(bool confirmed);
  // Records the status byte of a reply that was read; it belongs to the command sent last.
  void RecordReply(std::uint8_t status);

  int Queued() const { return queued_; }
  // Whether a command with this code is queued and not yet completed.
  bool Contains(int code) const;
  int Refused() const { return refused_; }
  // Status of the most recent reply read; cleared when a confirmed command completes, so it is
  // 1 again once the reply to the final send has been read.
  std::uint8_t LastReplyStatus() const { return lastReplyStatus_; }

 private:
  struct Slot {
    int code = kEmpty;
    bool pending = false;
    int sends = 0;
  };
  void CompleteFront(bool confirmed);

  std::array<Slot, kSlots> slots_{};
  int readPosition_ = 0;
  int writePosition_ = 0;
  int queued_ = 0;
  int refused_ = 0;
  int lastSentSlot_ = -1;
  // Whether the front command has had a reply of its own, and that reply's status.
  bool frontAnswered_ = false;
  std::uint8_t frontStatus_ = 0;
  std::uint8_t lastReplyStatus_ = 0;
};

}  // namespace torva
