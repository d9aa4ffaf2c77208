#include "driver/device/command_sender.h"

#include <cstring>
#include <utility>

namespace torva {

CommandSender::CommandSender() { runtime_.packetSize = kDefaultPacketSize; }

bool CommandSender::Enqueue(CommandCode code) {
  const bool queued = queue_.Push(static_cast<int>(code));
  if (queued) queueEmpty_.ResetEvent();
  return queued;
}

bool CommandSender::Idle() const {
  return queue_.Queued() == 0 && urgentCode_ == CommandQueue::kEmpty && !download_.Requested();
}

std::optional<CommandSender::Outgoing> CommandSender::TakeNext() {
  Outgoing next;
  next.code = std::exchange(urgentCode_, CommandQueue::kEmpty);
  if (next.code != CommandQueue::kEmpty) return next;
  const auto queued = queue_.NextToSend();
  if (!queued) return std::nullopt;
  next.code = *queued;
  next.fromQueue = true;
  return next;
}

std::size_t CommandSender::BuildPacket(CommandCode code, const CommandInfo& info,
                                       CommandPacketBuffer& packet) {
  packet.fill(0);
  const bool download = info.payload == PayloadSource::kCalibrationHeader ||
                        info.payload == PayloadSource::kCalibrationBlock;
  const std::size_t length =
      download ? download_.BuildPacket(info, packet.data(), packet.size())
               : BuildCommandPacketFromRecords(info, parameters_, runtime_, packet.data(),
                                               packet.size());
  if (length == 0) return 0;  // commands that put nothing on the wire
  if (code == CommandCode::kReadMechanicalLimits) runtime_.mechanicalLimitsValid = 0;
  if (code == CommandCode::kReadTare) runtime_.tareValid = 0;
  if (code == CommandCode::kReadAnalogLimits) runtime_.analogLimitsValid = 0;
  return length;
}

void CommandSender::SettleUnsent(const Outgoing& sent, bool confirmed) {
  if (sent.fromQueue) queue_.AfterSend(CommandQueue::SendOutcome::kNothingSent, confirmed);
  SetEmptyIfDrained();
}

void CommandSender::SettleSent(const Outgoing& sent, CommandQueue::SendOutcome outcome,
                               bool confirmed) {
  // A command sent ahead of the queue is no queued command's transmission.
  if (!sent.fromQueue) return;
  queue_.AfterSend(outcome, confirmed);
  SetEmptyIfDrained();
}

bool CommandSender::OnReply(const std::optional<ReplyPacketView>& reply) {
  const std::uint8_t status = reply ? reply->status : 0;
  // A calibration block the plate took moves the stream on; a refused one is sent again as it
  // is, so no piece of the stream is skipped or repeated.
  if (reply && reply->code == static_cast<std::uint8_t>(CommandCode::kCalibrationBlock))
    download_.OnBlockReply(status);
  queue_.OnReply(true, status);
  bool forControl = true;
  if (reply && reply->code == static_cast<std::uint8_t>(CommandCode::kReadDownloadStatus) &&
      reply->payloadBytes >= sizeof(PlateStatusBlock)) {
    PlateStatusBlock plate;
    std::memcpy(&plate, reply->payload, sizeof plate);
    forControl = download_.OnPlateStatus(plate, queue_, CalibrationDownload::Clock::now());
  }
  if (queue_.Queued() == 0) {
    queueEmpty_.Set();
  } else {
    queueEmpty_.ResetEvent();
  }
  return forControl;
}

void CommandSender::OnReplyFailed() {
  queue_.OnReply(false, 0);
  SetEmptyIfDrained();
}

std::optional<CalibrationDownload::Clock::time_point> CommandSender::ServiceDownload() {
  if (download_.Requested()) download_.Begin(queue_);
  const auto queryDue = download_.QueueDueQuery(queue_, CalibrationDownload::Clock::now());
  if (queue_.Queued() > 0) queueEmpty_.ResetEvent();
  return queryDue;
}

void CommandSender::SetEmptyIfDrained() {
  if (queue_.Queued() == 0) queueEmpty_.Set();
}

}  // namespace torva
