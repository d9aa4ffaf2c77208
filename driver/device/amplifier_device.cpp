#include "driver/device/amplifier_device.h"

#include <algorithm>
#include <utility>

#include "driver/device/device_messages.h"
#include "driver/usb/usb_device.h"
#include "platform/diagnostic_log.h"
#include "platform/thread_messages.h"

namespace torva {
namespace {

using Lock = platform::CriticalSectionLock;

}  // namespace

CUSBDevice::CUSBDevice() {
  MapMessage(kMsgDeviceQuit, [this](platform::WParam w, platform::LParam l) { OnQuit(w, l); });
}

CUSBDevice::~CUSBDevice() = default;

void CUSBDevice::SetIdentity(int deviceNumber, platform::ThreadId controlThread) {
  deviceNumber_ = deviceNumber;
  controlThread_ = controlThread;
}

void CUSBDevice::SetExitNotice(bool requested) {
  exitNoticeRequested_ = requested;
  exitNotice_ = false;
}

void CUSBDevice::ClearRuntimeLastWord() {
  Lock lock(lock_);
  commands_.ClearRuntimeLastWord();
}

bool CUSBDevice::LoadRuntimeBlock(const DeviceRuntimeBlock* block) {
  if (block == nullptr) return false;
  Lock lock(lock_);
  commands_.LoadRuntime(*block);
  return true;
}

bool CUSBDevice::LoadParameterBlock(const AmplifierParameterBlock* block) {
  if (block == nullptr) return false;
  Lock lock(lock_);
  commands_.LoadParameters(*block);
  return true;
}

bool CUSBDevice::QueueCommand(CommandCode code) {
  bool queued;
  {
    Lock lock(lock_);
    queued = commands_.Enqueue(code);
  }
  Wake();
  return queued;
}

bool CUSBDevice::SendCommand(CommandCode code) {
  const CommandInfo* info = FindCommand(static_cast<int>(code));
  if (info == nullptr) return false;
  {
    Lock lock(lock_);
    commands_.SendAhead(code);
  }
  Wake();
  return info->confirmed;
}

void CUSBDevice::AbortAndResetDataEndpoint() {
  link_.AbortDataEndpoint();
  Wake();
}

std::uint8_t CUSBDevice::LastReplyStatus() const {
  Lock lock(lock_);
  return commands_.Queue().LastReplyStatus();
}

bool CUSBDevice::StartPending() const {
  Lock lock(lock_);
  return commands_.Queue().Contains(static_cast<int>(CommandCode::kStart));
}

int CUSBDevice::QueuedCommands() const {
  Lock lock(lock_);
  return commands_.Queue().Queued();
}

int CUSBDevice::RefusedCommands() const {
  Lock lock(lock_);
  return commands_.Queue().Refused();
}

bool CUSBDevice::OnIdle(long /*count*/) {
  usb::CCyUSBEndPoint* dataEndpoint = nullptr;
  bool streaming = false;
  bool resetData = false;
  bool open;
  {
    Lock lock(lock_);
    if (shuttingDown_) return true;
    open = link_.IsOpen();
  }
  // An amplifier that is not open (or no longer) has nothing to do until its quit message.
  if (!open) return false;
  {
    Lock lock(lock_);
    ring_.PrepareOrEndRun(streamingRun_.load(), commands_.RequestedPacketSize());
    dataEndpoint = link_.DataEndpoint();
    streaming = ring_.PreparedRun() != 0 && ring_.PreparedRun() == streamingRun_ &&
                dataEndpoint != nullptr && !link_.Ending();
    resetData = link_.TakeDataResetPending();
    if (!streaming) ring_.ForgetRun();
  }
  if (resetData) dataEndpoint->ResetPipe();
  if (streaming) ReadStreamingPacket(*dataEndpoint);
  ServiceReply();
  ServiceCommand();
  bool nothingToDo;
  std::optional<CalibrationDownload::Clock::time_point> queryDue;
  {
    Lock lock(lock_);
    if (shuttingDown_) return true;
    queryDue = commands_.ServiceDownload();
    nothingToDo = streamingRun_ == 0 && commands_.Idle() && !replies_.Due() &&
                  !link_.DataResetPending();
  }
  if (nothingToDo && queryDue) {
    // A busy plate is asked again once its pause is over; any message (new work, the quit) ends
    // the wait early.
    const auto left = *queryDue - CalibrationDownload::Clock::now();
    platform::WaitForMessage(std::max(left, decltype(left)::zero()));
    return true;
  }
  // With nothing to do the thread sleeps on its queue: whatever gives it work (a queued command,
  // a start, a download, a pipe reset) also posts to it and wakes it.
  return !nothingToDo;
}

void CUSBDevice::ReadStreamingPacket(usb::CCyUSBEndPoint& endpoint) {
  const int packetSize = ring_.PacketSize();
  std::int32_t length = packetSize;
  if (!endpoint.Transfer(ring_.WriteSlot(), length)) {
    CheckDeviceLost(endpoint);
    endpoint.ResetPipe();
    return;
  }
  if (length < packetSize) {
    // A short packet carries no whole set of samples: it is lost, not handed on half-filled.
    const int lost = ring_.CountShortPacket();
    TORVA_LOG_OCCURRENCE(kWarning, lost, "slot %d: a streaming read brought %d of %d bytes; packet lost",
                         deviceNumber_, length, packetSize);
    return;
  }
  const int slot = ring_.CompletePacket(std::chrono::steady_clock::now());
  platform::PostThreadMessage(controlThread_, kMsgPacketArrived,
                              PacketArrivedWParam(slot, ring_.PreparedRun()), deviceNumber_);
}

void CUSBDevice::CheckDeviceLost(const usb::CCyUSBEndPoint& endpoint) {
  if (!link_.MarkLostIfGone(endpoint)) return;
  streamingRun_ = 0;
  TORVA_LOG_ERROR("slot %d: the amplifier is gone; its thread stops using it", deviceNumber_);
  platform::PostThreadMessage(controlThread_, kMsgDeviceLost, 0, deviceNumber_);
}

void CUSBDevice::ServiceReply() {
  std::size_t bytes;
  std::uint8_t request;
  {
    Lock lock(lock_);
    if (!replies_.Due() || link_.Control() == nullptr || shuttingDown_ || link_.Ending()) return;
    bytes = replies_.DueBytes();
    request = commands_.ReplyRequest();
  }
  std::uint8_t* buffer = replies_.ReadBuffer();
  std::fill_n(buffer, bytes, std::uint8_t{0});
  std::int32_t length = static_cast<std::int32_t>(bytes);
  if (!link_.VendorRequest(request, false, buffer, length)) {
    RejectReply();
    return;
  }
  Lock lock(lock_);
  AcceptReply(buffer, std::min(bytes, static_cast<std::size_t>(std::max(length, 0))));
}

void CUSBDevice::RejectReply() {
  {
    Lock lock(lock_);
    replies_.Abandon();
    commands_.OnReplyFailed();
  }
  platform::PostThreadMessage(controlThread_, kMsgReplyArrived, kReplyReadFailed, deviceNumber_);
  CheckDeviceLost(*link_.Control());
  link_.Control()->ResetPipe();
}

void CUSBDevice::AcceptReply(const std::uint8_t* reply, std::size_t length) {
  const ReplyChannel::Stored stored = replies_.Store(reply, length);
  if (commands_.OnReply(stored.reply))
    platform::PostThreadMessage(controlThread_, kMsgReplyArrived,
                                static_cast<platform::WParam>(stored.slot), deviceNumber_);
}

void CUSBDevice::ServiceCommand() {
  CommandPacketBuffer packet;
  std::size_t length = 0;
  CommandSender::Outgoing outgoing;
  bool confirmed = false;
  int replyBlocks = 0;
  std::uint8_t request = 0;
  {
    Lock lock(lock_);
    // One exchange at a time: the reply of the last command is read first.
    if (shuttingDown_ || link_.Ending() || replies_.Due()) return;
    const auto next = commands_.TakeNext();
    if (!next) return;
    outgoing = *next;
    const CommandInfo* info = FindCommand(outgoing.code);
    if (info != nullptr) {
      length = PrepareCommand(static_cast<CommandCode>(outgoing.code), *info, packet);
      confirmed = info->confirmed;
      replyBlocks = info->replyBlocks;
      request = info->request;
    }
    if (length == 0 || link_.Control() == nullptr) {
      commands_.SettleUnsent(outgoing, confirmed);
      return;
    }
    commands_.SetLastSentConfirmed(confirmed);
  }
  std::int32_t sent = static_cast<std::int32_t>(length);
  const bool written = link_.VendorRequest(request, true, packet.data(), sent);
  if (!written) CheckDeviceLost(*link_.Control());
  Lock lock(lock_);
  const bool expectsReply = replyBlocks != 0;
  if (written && expectsReply) replies_.Expect(replyBlocks);
  using Outcome = CommandQueue::SendOutcome;
  commands_.SettleSent(outgoing,
                       !written ? Outcome::kFailed
                                : expectsReply ? Outcome::kAwaitingReply : Outcome::kNoReply,
                       confirmed);
}

std::size_t CUSBDevice::PrepareCommand(CommandCode code, const CommandInfo& info,
                                       CommandPacketBuffer& packet) {
  const std::size_t length = commands_.BuildPacket(code, info, packet);
  if (length == 0) return 0;  // commands that put nothing on the wire
  // A Start sent again while a Stop waits behind it must not re-arm reading: the read would
  // come before the Stop goes out, and an amplifier that sends nothing would never let it go.
  const bool stopWaiting = commands_.Queue().Contains(static_cast<int>(CommandCode::kStop));
  if (code == CommandCode::kStart && link_.IsOpen() && !stopWaiting && streamingRun_ == 0) {
    runsStarted_ = runsStarted_ % kStreamingRunMask + 1;
    streamingRun_ = runsStarted_;
  }
  // A stopped amplifier sends nothing more: reading on would wait for ever.
  if (code == CommandCode::kStop) streamingRun_ = 0;
  return length;
}

void CUSBDevice::RequestCalibrationDownload(const std::string& path) {
  {
    Lock lock(lock_);
    commands_.RequestDownload(path);
  }
  Wake();
}

PlateStatusBlock CUSBDevice::LastPlateStatus() const {
  Lock lock(lock_);
  return commands_.LastPlateStatus();
}

void CUSBDevice::Wake() {
  platform::PostThreadMessage(Identifier(), platform::kKickIdleMessage, 0, 0);
}

void CUSBDevice::OnQuit(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  {
    Lock lock(lock_);
    shuttingDown_ = true;
    link_.Release();
  }
  platform::PostQuitMessage(kDeviceThreadExitCode);
}

int CUSBDevice::ExitInstance() {
  if (exitNoticeRequested_) exitNotice_ = true;
  if (exitNotice_) platform::PostThreadMessage(controlThread_, kMsgDeviceThreadEnded, 0, 0);
  return WorkerThread::ExitInstance();
}

}  // namespace torva
