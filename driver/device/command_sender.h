#pragma once
// What one amplifier's device thread puts on the wire, one command at a time: the command queue,
// the command sent ahead of it, the calibration download that feeds the queue, and the device's
// copies of the runtime and parameter records that command packets are built from. It decides
// which command goes next and settles the queue on each transmission and reply; the device makes
// the transfers.
//
// Threads and locking: guarded by the owning device's lock (CUSBDevice::lock_). Every member is
// called with that lock held, except WaitUntilEmpty (it waits on an event without the lock, and
// must not be called with it held) and DownloadStatus / SetDownloadStatus (atomic, any thread).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/calibration_download.h"
#include "driver/device/command_packet.h"
#include "driver/device/command_queue.h"
#include "driver/device/command_set.h"
#include "driver/device/device_runtime_block.h"
#include "platform/sync.h"

namespace torva {

class CommandSender {
 public:
  CommandSender();

  // --- Records ----------------------------------------------------------------------------------
  void LoadRuntime(const DeviceRuntimeBlock& block) { runtime_ = block; }
  void LoadParameters(const AmplifierParameterBlock& block) { parameters_ = block; }
  void ClearRuntimeLastWord() { runtime_.lastWord = 0; }
  // The streaming packet size the runtime record asks for (not positive: the default).
  int RequestedPacketSize() const { return runtime_.packetSize; }
  const DeviceRuntimeBlock& Runtime() const { return runtime_; }

  // --- Commands ---------------------------------------------------------------------------------
  // Appends a command; false when the queue is full (the refusal is counted).
  bool Enqueue(CommandCode code);
  // Sends `code` ahead of the queue on the next pass (replacing one not yet sent).
  void SendAhead(CommandCode code) { urgentCode_ = static_cast<int>(code); }
  const CommandQueue& Queue() const { return queue_; }
  // Whether nothing waits to be sent: no command queued or sent ahead, no download to begin.
  bool Idle() const;
  // Waits until every queued command has been sent and settled; false when the limit passed.
  bool WaitUntilEmpty(std::chrono::milliseconds limit) { return queueEmpty_.Wait(limit); }

  // The command to send on this pass: the one sent ahead, else the queue's next.
  struct Outgoing {
    int code = CommandQueue::kEmpty;
    bool fromQueue = false;
  };
  std::optional<Outgoing> TakeNext();
  // Builds the packet of `code` into `packet` (zero-filled first): the download's header or block
  // for the calibration commands, else from the records. A Read command marks the runtime field it
  // refreshes as not valid. Returns the length; 0 when the command puts nothing on the wire.
  std::size_t BuildPacket(CommandCode code, const CommandInfo& info, CommandPacketBuffer& packet);
  // The command `sent` put nothing on the wire (no packet, or no amplifier to send it to).
  void SettleUnsent(const Outgoing& sent, bool confirmed);
  // The command `sent` went on the wire (or failed to): the queue learns the outcome.
  void SettleSent(const Outgoing& sent, CommandQueue::SendOutcome outcome, bool confirmed);
  // Whether the command last put on the wire is confirmed (its reply is read with 0xB5).
  void SetLastSentConfirmed(bool confirmed) { lastSentConfirmed_ = confirmed; }
  std::uint8_t ReplyRequest() const {
    return lastSentConfirmed_ ? kConfirmReplyRequest : kReplyRequest;
  }

  // --- Replies ----------------------------------------------------------------------------------
  // A reply was read (empty when it was too short to parse): the download and the queue act on
  // it. Returns whether it belongs to the control thread (a status the download used does not).
  bool OnReply(const std::optional<ReplyPacketView>& reply);
  // Reading the due reply failed.
  void OnReplyFailed();

  // --- Calibration download ---------------------------------------------------------------------
  void RequestDownload(const std::string& path) { download_.Request(path); }
  // Begins a requested download and queues the status query a busy plate waits for once its pause
  // is over (the queue's empty event follows). Returns when that query will be due while it is not
  // yet.
  std::optional<CalibrationDownload::Clock::time_point> ServiceDownload();
  int DownloadStatus() const { return download_.Status(); }
  void SetDownloadStatus(int status) { download_.SetStatus(status); }
  PlateStatusBlock LastPlateStatus() const { return download_.LastPlateStatus(); }

 private:
  // Sets the empty event once no command is queued.
  void SetEmptyIfDrained();

  CommandQueue queue_;
  // A command sent ahead of the queue on the next pass (CommandQueue::kEmpty: none).
  int urgentCode_ = CommandQueue::kEmpty;
  bool lastSentConfirmed_ = false;
  // Set while the command queue is empty.
  platform::Event queueEmpty_{platform::Event::Reset::kManual, true};
  CalibrationDownload download_;
  DeviceRuntimeBlock runtime_{};
  AmplifierParameterBlock parameters_{};
};

}  // namespace torva
