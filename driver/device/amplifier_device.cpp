#include "driver/device/amplifier_device.h"

#include <algorithm>
#include <cstring>

#include "driver/device/amplifier_identity.h"
#include "driver/device/command_packet.h"
#include "driver/device/device_messages.h"
#include "driver/device/kernel_driver_choice.h"
#include "driver/device/streaming_packet.h"
#include "driver/usb/usb_device.h"
#include "platform/diagnostic_log.h"
#include "platform/thread_messages.h"

namespace torva {
namespace {

using Lock = platform::CriticalSectionLock;

// Time-out of the second selected endpoint.
constexpr std::uint32_t kSecondEndpointTimeoutMs = 2000;
// The counter a run starts comparing against.
constexpr int kCounterBeforeRun = 1;

}  // namespace

CUSBDevice::CUSBDevice() : replyRing_(kReplyRingSlots * kReplyBufferBytes, 0) {
  runtime_.packetSize = kDefaultPacketSize;
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
  runtime_.lastWord = 0;
}

CUSBDevice::OpenOutcome CUSBDevice::OpenAmplifier(int ordinal) {
  auto device = std::make_unique<usb::UsbDevice>(ChosenKernelDriver());
  const int count = device->CountDevices();
  matchedSerial_.clear();
  if (ordinal == 0) {
    amplifiersFound_ = 0;
    for (int i = 0; i < count; ++i)
      if (device->OpenDevice(i) && IsAmplifier(device->VendorId(), device->ProductId()))
        ++amplifiersFound_;
    device->CloseDevice();
    if (amplifiersFound_ == 0) return OpenOutcome::kNotOpened;
  }
  int match = 0;
  for (int i = 0; i < count; ++i) {
    if (!device->OpenDevice(i)) continue;
    if (!IsAmplifier(device->VendorId(), device->ProductId())) continue;
    if (match++ != ordinal) continue;
    // Only the amplifier this thread takes is claimed: the threads of the amplifiers before it
    // hold theirs, and another program may hold this one.
    matchedSerial_ = device->SerialNumberText();
    if (device->SelectAltSetting(0) == usb::UsbResult::kBusy) {
      device->CloseDevice();
      return OpenOutcome::kInUse;
    }
    matchedProductId_ = device->ProductId();
    Lock lock(lock_);
    usb_ = std::move(device);
    control_ = usb_->ControlEndPoint();
    open_ = true;
    return OpenOutcome::kOpened;
  }
  device->CloseDevice();
  return OpenOutcome::kNotOpened;
}

bool CUSBDevice::BuildEndpointTable() {
  Lock lock(lock_);
  std::memset(&endpoints_, 0, sizeof endpoints_);
  if (!usb_) return false;
  const int count = std::min(usb_->EndpointCount(), kMaxEndpointEntries);
  for (int i = 0; i < count; ++i) {
    const usb::CCyUSBEndPoint* endpoint = usb_->Endpoint(i);
    if (endpoint == nullptr) continue;
    EndpointEntry& entry = endpoints_.entries[i];
    entry.address = endpoint->Address();
    entry.index = i;
    entry.maxPacketSize = static_cast<std::int32_t>(endpoint->MaxPacketSize());
    entry.interval = endpoint->Interval();
    EndpointKind kind = EndpointKind::kOther;
    const bool in = endpoint->IsIn();
    switch (endpoint->Type()) {
      case usb::EndpointType::kControl: kind = EndpointKind::kControl; break;
      case usb::EndpointType::kIsochronous:
        kind = in ? EndpointKind::kIsochronousIn : EndpointKind::kIsochronousOut;
        break;
      case usb::EndpointType::kBulk: kind = in ? EndpointKind::kBulkIn : EndpointKind::kBulkOut; break;
      case usb::EndpointType::kInterrupt:
        kind = in ? EndpointKind::kInterruptIn : EndpointKind::kInterruptOut;
        break;
    }
    entry.kind = static_cast<double>(static_cast<int>(kind));
  }
  endpoints_.count = count;
  return true;
}

bool CUSBDevice::CopyEndpointTable(EndpointTable& out) const {
  Lock lock(lock_);
  out = endpoints_;
  return true;
}

void CUSBDevice::SelectEndpoints(int dataIndex, int secondIndex, int thirdIndex) {
  Lock lock(lock_);
  if (!usb_) return;
  dataEndpoint_ = usb_->Endpoint(dataIndex);
  secondEndpoint_ = usb_->Endpoint(secondIndex);
  thirdEndpoint_ = usb_->Endpoint(thirdIndex);
  if (dataEndpoint_ != nullptr) dataEndpoint_->SetTimeOut(usb::kInfiniteTimeout);
  if (secondEndpoint_ != nullptr) secondEndpoint_->SetTimeOut(kSecondEndpointTimeoutMs);
}

bool CUSBDevice::LoadRuntimeBlock(const DeviceRuntimeBlock* block) {
  if (block == nullptr) return false;
  Lock lock(lock_);
  runtime_ = *block;
  return true;
}

bool CUSBDevice::LoadParameterBlock(const AmplifierParameterBlock* block) {
  if (block == nullptr) return false;
  Lock lock(lock_);
  parameters_ = *block;
  return true;
}

bool CUSBDevice::QueueCommand(CommandCode code) {
  bool queued;
  {
    Lock lock(lock_);
    queued = queue_.Push(static_cast<int>(code));
    if (queued) queueEmpty_.ResetEvent();
  }
  Wake();
  return queued;
}

bool CUSBDevice::SendCommand(CommandCode code) {
  const CommandInfo* info = FindCommand(static_cast<int>(code));
  if (info == nullptr) return false;
  {
    Lock lock(lock_);
    urgentCode_ = static_cast<int>(code);
  }
  Wake();
  return info->confirmed;
}

void CUSBDevice::AbortAndResetDataEndpoint() {
  std::shared_ptr<usb::UsbDevice> usb;
  usb::CCyUSBEndPoint* endpoint = nullptr;
  {
    Lock lock(lock_);
    usb = usb_;
    endpoint = dataEndpoint_;
    // The halt is cleared by the device thread: clearing it is a request to the amplifier, which
    // the caller must not wait for.
    dataResetPending_ = endpoint != nullptr;
  }
  if (endpoint != nullptr) endpoint->AbortPipe();
  Wake();
}

void CUSBDevice::AbortTransfers() {
  std::shared_ptr<usb::UsbDevice> usb;
  usb::CCyUSBEndPoint* endpoints[] = {nullptr, nullptr};
  {
    Lock lock(lock_);
    ending_ = true;
    usb = usb_;
    endpoints[0] = control_;
    endpoints[1] = dataEndpoint_;
  }
  for (usb::CCyUSBEndPoint* endpoint : endpoints)
    if (endpoint != nullptr) endpoint->AbortPipe();
}

std::uint8_t CUSBDevice::LastReplyStatus() const {
  Lock lock(lock_);
  return queue_.LastReplyStatus();
}

bool CUSBDevice::StartPending() const {
  Lock lock(lock_);
  return queue_.Contains(static_cast<int>(CommandCode::kStart));
}

int CUSBDevice::QueuedCommands() const {
  Lock lock(lock_);
  return queue_.Queued();
}

bool CUSBDevice::WaitUntilQueueEmpty(std::chrono::milliseconds limit) {
  return queueEmpty_.Wait(limit);
}

int CUSBDevice::RefusedCommands() const {
  Lock lock(lock_);
  return queue_.Refused();
}

CUSBDevice::DataSlotView CUSBDevice::DataSlot(int slot) const {
  DataSlotView view;
  if (slot < 0 || slot >= kDataRingSlots || dataRingPacketSize_ == 0) return view;
  view.data = dataRing_.data() + static_cast<std::size_t>(slot) * static_cast<std::size_t>(dataRingPacketSize_);
  view.packetSize = dataRingPacketSize_;
  view.packetsReceived = packetsReceived_.load();
  return view;
}

std::chrono::steady_clock::time_point CUSBDevice::ReceivedAt(int slot) const {
  if (slot < 0 || slot >= kDataRingSlots) return {};
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(
      receivedAt_[static_cast<std::size_t>(slot)].load(std::memory_order_relaxed)));
}

bool CUSBDevice::CopyReplySlot(int slot, std::uint8_t* out) const {
  if (slot < 0 || slot >= kReplyRingSlots || out == nullptr) return false;
  Lock lock(lock_);
  std::memcpy(out, replyRing_.data() + static_cast<std::size_t>(slot) * kReplyBufferBytes,
              kReplyBufferBytes);
  return true;
}

std::optional<std::uint32_t> CUSBDevice::CurrentFrameNumber() {
  std::shared_ptr<usb::UsbDevice> usb;
  {
    Lock lock(lock_);
    usb = usb_;
  }
  return usb ? usb->CurrentFrameNumber() : std::nullopt;
}

bool CUSBDevice::ResetUsbDevice() {
  std::shared_ptr<usb::UsbDevice> usb;
  {
    Lock lock(lock_);
    usb = usb_;
  }
  return usb && usb->ResetUsbDevice();
}

bool CUSBDevice::OnIdle(long /*count*/) {
  usb::CCyUSBEndPoint* dataEndpoint = nullptr;
  bool streaming = false;
  bool resetData = false;
  bool open;
  {
    Lock lock(lock_);
    if (shuttingDown_) return true;
    open = open_;
  }
  // An amplifier that is not open (or no longer) has nothing to do until its quit message.
  if (!open) return false;
  {
    Lock lock(lock_);
    PrepareOrEndRun();
    dataEndpoint = dataEndpoint_;
    streaming = preparedRun_ != 0 && preparedRun_ == streamingRun_ && dataEndpoint != nullptr &&
                !ending_;
    resetData = std::exchange(dataResetPending_, false) && dataEndpoint != nullptr;
    if (!streaming) {
      previousCounter_ = kCounterBeforeRun;
      firstPacketOfRun_ = true;
      lostPackets_ = 0;
    }
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
    if (download_.Requested()) download_.Begin(queue_);
    queryDue = download_.QueueDueQuery(queue_, CalibrationDownload::Clock::now());
    if (queue_.Queued() > 0) queueEmpty_.ResetEvent();
    nothingToDo = streamingRun_ == 0 && queue_.Queued() == 0 &&
                  urgentCode_ == CommandQueue::kEmpty && replyReadsDone_ >= expectedReplyBlocks_ &&
                  !dataResetPending_ && !download_.Requested();
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

void CUSBDevice::PrepareOrEndRun() {
  const std::uint32_t run = streamingRun_.load();
  if (run != 0 && run != preparedRun_) {
    const int packetSize = runtime_.packetSize > 0 ? runtime_.packetSize : kDefaultPacketSize;
    if (packetSize != dataRingPacketSize_) {
      // The ring keeps its storage for as long as the packet size stays the same, so a slot
      // announced before this run is still readable while the control thread catches up.
      dataRing_.assign(static_cast<std::size_t>(kDataRingSlots) * static_cast<std::size_t>(packetSize), 0);
      dataRingPacketSize_ = packetSize;
    } else {
      std::fill(dataRing_.begin(), dataRing_.end(), 0);
    }
    packetsReceived_ = 0;
    dataPosition_ = 0;
    preparedRun_ = run;
  } else if (run == 0) {
    preparedRun_ = 0;
  }
}

void CUSBDevice::ReadStreamingPacket(usb::CCyUSBEndPoint& endpoint) {
  std::uint8_t* slot = dataRing_.data() + static_cast<std::size_t>(dataPosition_) * static_cast<std::size_t>(dataRingPacketSize_);
  std::memset(slot, 0, static_cast<std::size_t>(dataRingPacketSize_));
  std::int32_t length = dataRingPacketSize_;
  if (!endpoint.Transfer(slot, length)) {
    CheckDeviceLost(endpoint);
    endpoint.ResetPipe();
    return;
  }
  if (length < dataRingPacketSize_) {
    // A short packet carries no whole set of samples: it is lost, not handed on half-filled. The
    // counter it should have carried is taken as seen, so the next packet is no second loss.
    const int lost = ++lostPackets_;
    TORVA_LOG_OCCURRENCE(kWarning, lost, "slot %d: a streaming read brought %d of %d bytes; packet lost",
                         deviceNumber_, length, dataRingPacketSize_);
    if (!firstPacketOfRun_) {
      previousCounter_ = static_cast<std::int32_t>(
          (static_cast<std::uint32_t>(previousCounter_) + kSamplesPerPacket) &
          static_cast<std::uint32_t>(kSampleCounterModulus - 1));
    }
    return;
  }
  receivedAt_[static_cast<std::size_t>(dataPosition_)].store(
      std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  std::uint32_t counter;
  std::memcpy(&counter, slot, sizeof counter);
  // Counters count modulo 2^24; the difference is taken unsigned and modulo 2^24, so a wrap is a
  // step like any other and nothing overflows.
  const std::uint32_t step = (counter - static_cast<std::uint32_t>(previousCounter_)) &
                             static_cast<std::uint32_t>(kSampleCounterModulus - 1);
  if (!firstPacketOfRun_ && step != static_cast<std::uint32_t>(kSamplesPerPacket)) ++lostPackets_;
  firstPacketOfRun_ = false;
  previousCounter_ = static_cast<std::int32_t>(counter);
  ++packetsReceived_;
  platform::PostThreadMessage(controlThread_, kMsgPacketArrived,
                              PacketArrivedWParam(dataPosition_, preparedRun_), deviceNumber_);
  dataPosition_ = (dataPosition_ + 1) % kDataRingSlots;
}

void CUSBDevice::CheckDeviceLost(const usb::CCyUSBEndPoint& endpoint) {
  if (endpoint.UsbdStatus() != static_cast<std::uint32_t>(usb::UsbResult::kNoDevice)) return;
  if (!open_.exchange(false)) return;
  streamingRun_ = 0;
  TORVA_LOG_ERROR("slot %d: the amplifier is gone; its thread stops using it", deviceNumber_);
  platform::PostThreadMessage(controlThread_, kMsgDeviceLost, 0, deviceNumber_);
}

bool CUSBDevice::ControlTransfer(std::uint8_t request, bool toDevice, std::uint8_t* data,
                                 std::int32_t& length) {
  control_->SetTarget(usb::RequestTarget::kDevice);
  control_->SetReqType(usb::RequestKind::kVendor);
  control_->SetReqCode(request);
  control_->SetValue(0);
  control_->SetIndex(0);
  return toDevice ? control_->WriteControl(data, length) : control_->ReadControl(data, length);
}

void CUSBDevice::ServiceReply() {
  std::size_t bytes;
  std::uint8_t request;
  {
    Lock lock(lock_);
    if (replyReadsDone_ >= expectedReplyBlocks_ || control_ == nullptr || shuttingDown_ || ending_)
      return;
    bytes = std::min(kBlockBytes * static_cast<std::size_t>(expectedReplyBlocks_), replyRead_.size());
    request = lastSentConfirmed_ ? kConfirmReplyRequest : kReplyRequest;
  }
  std::memset(replyRead_.data(), 0, bytes);
  std::int32_t length = static_cast<std::int32_t>(bytes);
  const bool read = ControlTransfer(request, false, replyRead_.data(), length);
  if (!read) {
    {
      Lock lock(lock_);
      replyReadsDone_ = 0;
      expectedReplyBlocks_ = 0;
      queue_.OnReply(false, 0);
      if (queue_.Queued() == 0) queueEmpty_.Set();
    }
    platform::PostThreadMessage(controlThread_, kMsgReplyArrived, kReplyReadFailed, deviceNumber_);
    CheckDeviceLost(*control_);
    control_->ResetPipe();
    return;
  }
  Lock lock(lock_);
  AcceptReply(replyRead_.data(), std::min(bytes, static_cast<std::size_t>(std::max(length, 0))));
}

void CUSBDevice::AcceptReply(const std::uint8_t* reply, std::size_t length) {
  replyReadsDone_ = 0;
  expectedReplyBlocks_ = 0;
  std::uint8_t* entry = replyRing_.data() + static_cast<std::size_t>(replyPosition_) * kReplyBufferBytes;
  std::memset(entry, 0, kReplyBufferBytes);
  std::memcpy(entry, reply, length);
  auto parsed = ParseReplyPacket(entry, length);
  const std::uint8_t status = parsed ? parsed->status : 0;
  // A calibration block the plate took moves the stream on; a refused one is sent again as it
  // is, so no piece of the stream is skipped or repeated.
  if (parsed && parsed->code == static_cast<std::uint8_t>(CommandCode::kCalibrationBlock))
    download_.OnBlockReply(status);
  queue_.OnReply(true, status);
  bool forControl = true;
  if (parsed && parsed->code == static_cast<std::uint8_t>(CommandCode::kReadDownloadStatus) &&
      parsed->payloadBytes >= sizeof(PlateStatusBlock)) {
    PlateStatusBlock plate;
    std::memcpy(&plate, parsed->payload, sizeof plate);
    forControl = download_.OnPlateStatus(plate, queue_, CalibrationDownload::Clock::now());
  }
  if (queue_.Queued() == 0) {
    queueEmpty_.Set();
  } else {
    queueEmpty_.ResetEvent();
  }
  if (forControl)
    platform::PostThreadMessage(controlThread_, kMsgReplyArrived,
                                static_cast<platform::WParam>(replyPosition_), deviceNumber_);
  replyPosition_ = (replyPosition_ + 1) % kReplyRingSlots;
}

void CUSBDevice::ServiceCommand() {
  CommandPacketBuffer packet;
  std::size_t length = 0;
  bool fromQueue = false;
  bool confirmed = false;
  int replyBlocks = 0;
  std::uint8_t request = 0;
  {
    Lock lock(lock_);
    // One exchange at a time: the reply of the last command is read first.
    if (shuttingDown_ || ending_ || replyReadsDone_ < expectedReplyBlocks_) return;
    int code = std::exchange(urgentCode_, CommandQueue::kEmpty);
    if (code == CommandQueue::kEmpty) {
      const auto next = queue_.NextToSend();
      if (!next) return;
      code = *next;
      fromQueue = true;
    }
    const CommandInfo* info = FindCommand(code);
    if (info != nullptr) {
      length = PrepareCommand(static_cast<CommandCode>(code), *info, packet);
      confirmed = info->confirmed;
      replyBlocks = info->replyBlocks;
      request = info->request;
    }
    if (length == 0 || control_ == nullptr) {
      if (fromQueue) queue_.AfterSend(CommandQueue::SendOutcome::kNothingSent, confirmed);
      if (queue_.Queued() == 0) queueEmpty_.Set();
      return;
    }
    lastSentConfirmed_ = confirmed;
  }
  std::int32_t sent = static_cast<std::int32_t>(length);
  const bool written = ControlTransfer(request, true, packet.data(), sent);
  if (!written) CheckDeviceLost(*control_);
  Lock lock(lock_);
  const bool expectsReply = replyBlocks != 0;
  if (written && expectsReply) {
    expectedReplyBlocks_ = replyBlocks;
    replyReadsDone_ = 0;
  }
  if (!fromQueue) return;
  using Outcome = CommandQueue::SendOutcome;
  queue_.AfterSend(!written ? Outcome::kFailed : expectsReply ? Outcome::kAwaitingReply : Outcome::kNoReply,
                   confirmed);
  if (queue_.Queued() == 0) queueEmpty_.Set();
}

std::size_t CUSBDevice::PrepareCommand(CommandCode code, const CommandInfo& info,
                                       CommandPacketBuffer& packet) {
  packet.fill(0);
  const bool download = info.payload == PayloadSource::kCalibrationHeader ||
                        info.payload == PayloadSource::kCalibrationBlock;
  const std::size_t length =
      download ? download_.BuildPacket(info, packet.data(), packet.size())
               : BuildCommandPacketFromRecords(info, parameters_, runtime_, packet.data(),
                                               packet.size());
  if (length == 0) return 0;  // commands that put nothing on the wire
  // A Start sent again while a Stop waits behind it must not re-arm reading: the read would
  // come before the Stop goes out, and an amplifier that sends nothing would never let it go.
  const bool stopWaiting = queue_.Contains(static_cast<int>(CommandCode::kStop));
  if (code == CommandCode::kStart && open_ && !stopWaiting && streamingRun_ == 0) {
    runsStarted_ = runsStarted_ % kStreamingRunMask + 1;
    streamingRun_ = runsStarted_;
  }
  // A stopped amplifier sends nothing more: reading on would wait for ever.
  if (code == CommandCode::kStop) streamingRun_ = 0;
  if (code == CommandCode::kReadMechanicalLimits) runtime_.mechanicalLimitsValid = 0;
  if (code == CommandCode::kReadTare) runtime_.tareValid = 0;
  if (code == CommandCode::kReadAnalogLimits) runtime_.analogLimitsValid = 0;
  return length;
}

void CUSBDevice::RequestCalibrationDownload(const std::string& path) {
  {
    Lock lock(lock_);
    download_.Request(path);
  }
  Wake();
}

PlateStatusBlock CUSBDevice::LastPlateStatus() const {
  Lock lock(lock_);
  return download_.LastPlateStatus();
}

void CUSBDevice::Wake() {
  platform::PostThreadMessage(Identifier(), platform::kKickIdleMessage, 0, 0);
}

void CUSBDevice::OnQuit(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  {
    Lock lock(lock_);
    shuttingDown_ = true;
    dataEndpoint_ = nullptr;
    secondEndpoint_ = nullptr;
    thirdEndpoint_ = nullptr;
    control_ = nullptr;
    usb_.reset();
  }
  platform::PostQuitMessage(kDeviceThreadExitCode);
}

int CUSBDevice::ExitInstance() {
  if (exitNoticeRequested_) exitNotice_ = true;
  if (exitNotice_) platform::PostThreadMessage(controlThread_, kMsgDeviceThreadEnded, 0, 0);
  return WorkerThread::ExitInstance();
}

}  // namespace torva
