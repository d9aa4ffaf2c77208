#pragma once
// The 20-slot queue of command codes that a device thread sends one at a time, with the rules
// that decide when the command at the front is complete.
//
// Each transmission of the front command is followed by exactly one outcome:
// - a command that expects a reply waits for it (nothing else is sent meanwhile). A confirmed
//   command completes when its reply says "done" (status 1); an unconfirmed one completes on any
//   reply. A refused reply (status other than 1 for a confirmed command) or a failed reply read
//   sends it again;
// - a command without a reply (Start) is sent three times, one transmission per pass;
// - a transmission that failed counts as refused;
// - a command that puts nothing on the wire completes at once.
// A command that has not completed after its third transmission is dropped and the next follows.
// So a command the amplifier accepts goes on the wire once: data-carrying commands (calibration
// blocks, boot chunks) are never duplicated.
//
// Not thread-safe: the owning device serialises every call with its device lock.

#include <array>
#include <cstdint>
#include <optional>

namespace torva {

class CommandQueue {
 public:
  static constexpr int kSlots = 20;
  // A command that has not completed after this many transmissions is dropped.
  static constexpr int kMaxSends = 3;
  static constexpr int kEmpty = -1;

  // What became of one transmission of the front command.
  enum class SendOutcome {
    kNothingSent,    // the command has no packet: it completes at once
    kFailed,         // the transfer failed: counts as refused
    kAwaitingReply,  // sent; its reply decides
    kNoReply,        // sent; the command has no reply
  };

  CommandQueue();

  // Appends a code. A full queue refuses it (nothing queued is overwritten) and counts the
  // refusal.
  bool Push(int code);

  // The code to send on this pass, if any: nothing while the front command awaits its reply.
  std::optional<int> NextToSend() const;
  // Called right after the front command was transmitted (or found to have no packet).
  void AfterSend(SendOutcome outcome, bool confirmed);
  // A reply read was attempted: `read` false when it failed, else the reply's status byte. It
  // belongs to the command sent last; a reply that no queued command awaits (a command sent
  // outside the queue) only updates the last reply status.
  void OnReply(bool read, std::uint8_t status);

  int Queued() const { return queued_; }
  // Whether a command with this code is queued and not yet completed.
  bool Contains(int code) const;
  int Refused() const { return refused_; }
  // Status byte of the most recent reply read (0 before any).
  std::uint8_t LastReplyStatus() const { return lastReplyStatus_; }

 private:
  struct Slot {
    int code = kEmpty;
    bool pending = false;
    int sends = 0;
  };
  void CompleteFront();
  // The front command was refused: dropped after its last allowed transmission.
  void Refuse();

  std::array<Slot, kSlots> slots_{};
  int readPosition_ = 0;
  int writePosition_ = 0;
  int queued_ = 0;
  int refused_ = 0;
  // The front command is on the wire and waits for its reply.
  bool awaitingReply_ = false;
  bool awaitingConfirmed_ = false;
  std::uint8_t lastReplyStatus_ = 0;
};

}  // namespace torva
