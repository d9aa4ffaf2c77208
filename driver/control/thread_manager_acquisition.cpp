// Commands to the amplifiers, starting and stopping acquisition on all of them together, the
// packet handler that assembles their packets into frames, and the platform order.

#include <cstring>
#include <thread>

#include "driver/control/library_locks.h"
#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
#include "driver/device/device_messages.h"
#include "driver/usb/usb_types.h"
#include "platform/diagnostic_log.h"

namespace torva {
namespace {

// Sampling starts this many USB frames after the frame read at the start, so that the start
// command reaches every amplifier before then.
constexpr std::uint32_t kStartFrameLead = 32;
// Entry of the vertical force of a packet's first sample in the channels-only layout.
constexpr int kVerticalForceChannel = 2;
constexpr int kChannelsPerRecord = 6;

// Stops an amplifier's streaming. The order matters: once the abort has ended the pending bulk
// read, the device thread must find reading switched off and the Stop waiting, or it starts
// another read, which an amplifier that sends nothing (yet) never ends.
bool StopDevice(CUSBDevice& device) {
  device.StopStreaming();
  const bool queued = device.QueueCommand(CommandCode::kStop);
  device.AbortAndResetDataEndpoint();
  return queued;
}

}  // namespace

bool CThreadManager::IssueCommand(int slot, CommandCode code) {
  CUSBDevice* device = Device(slot);
  if (device == nullptr) return false;
  // The device takes its own lock inside the slot's: slot lock, then device lock.
  records_.Read(slot, [&](const AmplifierParameterBlock& parameters,
                          const DeviceRuntimeBlock& runtime) {
    device->LoadRuntimeBlock(&runtime);
    device->LoadParameterBlock(&parameters);
  });

  switch (code) {
    case CommandCode::kStart:
      holdFirstPacket_ = 0;
      return device->IsStreaming() || device->QueueCommand(code);
    case CommandCode::kStop:
      // A Start still in the queue makes the amplifier stream as soon as it goes out: the stop
      // must follow it.
      if (!device->IsStreaming() && !device->StartPending()) return false;
      return StopDevice(*device);
    case CommandCode::kZero:
      if (device->IsStreaming()) {
        device->SendCommand(code);
        return true;
      }
      return device->QueueCommand(code);
    default:
      // A setting cannot change while the amplifier streams: stop it first. Acquisition is not
      // restarted afterwards.
      if (device->IsStreaming()) StopDevice(*device);
      return device->QueueCommand(code);
  }
}

void CThreadManager::Broadcast(CommandCode code) {
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position)
    IssueCommand(order[static_cast<std::size_t>(position)], code);
}

void CThreadManager::BroadcastSetting(std::int32_t AmplifierParameterBlock::*field,
                                      std::int32_t value, CommandCode code) {
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position) {
    const int slot = order[static_cast<std::size_t>(position)];
    if (records_.Edit(slot, [&](AmplifierParameterBlock& parameters, DeviceRuntimeBlock&) {
          parameters.*field = value;
        }))
      IssueCommand(slot, code);
  }
}

void CThreadManager::SetPacketSizeOfAll(std::int32_t packetSize) {
  const int count = deviceCount_.load();
  for (int slot = 0; slot < count; ++slot) records_.SetPacketSize(slot, packetSize);
}

void CThreadManager::SelectPosition(int position) {
  const int slot = SlotAt(position);
  if (slot != -1) selectedSlot_ = slot;
}

int CThreadManager::SelectedPosition() const {
  platform::CriticalSectionLock lock(AssemblyLock());
  return order_.PositionOf(selectedSlot_.load(), deviceCount_.load());
}

void CThreadManager::StartAcquisition() {
  const int count = deviceCount_.load();
  if (count == 0) return;
  stopped_ = 0;
  stops_.BeginStart();
  std::int32_t startFrame = 0;
  int started = 0;
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position) {
    const int slot = order[static_cast<std::size_t>(position)];
    CUSBDevice* device = Device(slot);
    if (device == nullptr) continue;
    if (position == 0) {
      // One start frame for every amplifier, read from the first one's bus.
      const std::uint32_t frame = device->CurrentFrameNumber().value_or(0);
      startFrame = static_cast<std::int32_t>((frame + kStartFrameLead) & usb::kFrameNumberMask);
    }
    // An amplifier whose last command did not complete normally is left out of this start.
    if (device->LastReplyStatus() != kReplyStatusDone) {
      TORVA_LOG_WARNING("start: slot %d left out, its last reply status was %d", slot,
                        device->LastReplyStatus());
      continue;
    }
    {
      platform::CriticalSectionLock lock(AssemblyLock());
      assembler_.ClearDropped(slot);
    }
    if (!device->IsStreaming()) PrepareStart(slot, started == 0, startFrame);
    IssueCommand(slot, CommandCode::kStart);
    ++started;
  }
  TORVA_LOG_INFO("start: %d of %d amplifier(s) for USB frame %d", started, count, startFrame);
}

void CThreadManager::PrepareStart(int slot, bool firstOfStart, std::int32_t startFrame) {
  records_.Edit(slot, [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
    runtime.startFrame = startFrame;
  });
  if (!ordering_.Active()) deliveryEnabled_ = 1;
  if (!firstOfStart) return;
  // Buffers are sized here, never on the packet path.
  platform::CriticalSectionLock lock(AssemblyLock());
  assembler_.Reset(deviceCount_.load(), records_.PacketSize(slot), dataFormat_.load());
  order_.UpdatePositions(deviceCount_.load());
}

void CThreadManager::StopAcquisition() {
  const int count = deviceCount_.load();
  stops_.BeginStop();
  std::uint32_t alreadyStopped = 0;
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position) {
    const int slot = order[static_cast<std::size_t>(position)];
    if (slot == -1) continue;
    // An amplifier that was not streaming gets no stop and has nothing to acknowledge.
    if (!IssueCommand(slot, CommandCode::kStop)) alreadyStopped |= 1u << slot;
  }
  stops_.AlreadyStopped(alreadyStopped);
  for (int position = 0; position < count; ++position) {
    if (CUSBDevice* device = Device(order[static_cast<std::size_t>(position)])) device->StopStreaming();
  }
  {
    platform::CriticalSectionLock lock(AssemblyLock());
    assembler_.ClearPending();
  }
  stopped_ = 1;
}

int CThreadManager::StopCommandFlag() const {
  // Polled by callers: the order is copied only once a stop has been broadcast.
  if (!stops_.StopBroadcast()) return 0;
  return stops_.Flag(PlatformOrder(), deviceCount_.load());
}

void CThreadManager::OnPacketArrived(platform::WParam wParam, platform::LParam lParam) {
  platform::CriticalSectionLock lock(AssemblyLock());
  if (suspended_) return;
  const auto slot = static_cast<int>(lParam);
  if (slot < 0 || slot >= assembler_.DeviceCount()) return;
  // A packet read by a run that has been stopped since (its announcement was still queued) is
  // left alone: its ring slot may already belong to the next run. Checked under the assembly
  // lock, which a new start takes before its Start goes out, so the slot cannot change while the
  // packet is taken.
  const CUSBDevice* device = Device(slot);
  if (device == nullptr || PacketRun(wParam) != device->StreamingRun()) return;
  const int position = order_.Positions()[static_cast<std::size_t>(slot)];
  const int format = dataFormat_.load();

  const bool firstOfFrame =
      assembler_.Announce(slot, position, holdFirstPacket_.load() != 0, *this, format);
  if (firstOfFrame && ordering_.Active()) RunLoadTest(slot, position, PacketRingSlot(wParam));

  const bool deliver = deliveryEnabled_.load() != 0;
  const int completed = assembler_.TryComplete(*this, format, deliver, order_.Positions());
  if (completed >= 0 && deliver) notifier_.Notify(completed);
}

const std::uint8_t* CThreadManager::Packet(int slot, int ringIndex, int& packetSize) const {
  const CUSBDevice* device = Device(slot);
  if (device == nullptr) return nullptr;
  const CUSBDevice::DataSlotView view = device->DataSlot(ringIndex);
  packetSize = view.packetSize;
  return view.data;
}

int CThreadManager::SlotAt(int position) const {
  if (position < 0 || position >= deviceCount_.load()) return -1;
  platform::CriticalSectionLock lock(AssemblyLock());
  return order_.Slots()[static_cast<std::size_t>(position)];
}

std::array<int, kMaxAmplifiers> CThreadManager::PlatformOrder() const {
  platform::CriticalSectionLock lock(AssemblyLock());
  return order_.Slots();
}

void CThreadManager::SetPlatformOrder(const int* positions) {
  if (positions == nullptr) return;
  const int count = deviceCount_.load();
  platform::CriticalSectionLock lock(AssemblyLock());
  if (order_.Reorder(positions, count)) order_.UpdatePositions(count);
}

int CThreadManager::CopyPlatformOrder(int* out) const {
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  if (out != nullptr) std::copy(order.begin(), order.begin() + count, out);
  return count;
}

void CThreadManager::SetOrderingThreshold(float threshold) {
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position) {
    records_.Edit(order[static_cast<std::size_t>(position)],
                  [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
                    runtime.orderingThreshold = threshold;
                    runtime.orderingThresholdSet = 1;
                  });
  }
}

void CThreadManager::StartOrdering() {
  platform::CriticalSectionLock lock(AssemblyLock());
  ordering_.Start(deviceCount_.load(), dataFormat_.load());
  deliveryEnabled_ = 0;
  dataFormat_ = kFormatChannels;
  holdFirstPacket_ = 0;
  // Frames from before the run are not handed out during it, nor after it.
  assembler_.Ring().DropWaiting();
}

void CThreadManager::CancelOrdering() {
  StopAcquisition();
  platform::CriticalSectionLock lock(AssemblyLock());
  if (const auto format = ordering_.Cancel()) dataFormat_ = *format;
  holdFirstPacket_ = 1;
}

void CThreadManager::RunLoadTest(int slot, int position, platform::WParam ringIndex) {
  const float force = assembler_.Scratch(position * kChannelsPerRecord + kVerticalForceChannel);
  DeviceRuntimeBlock runtime{};
  AmplifierParameterBlock parameters{};
  if (!records_.CopyRuntime(slot, runtime) || !records_.CopyParameters(slot, parameters)) return;
  auto sameAmplifier = [&](int orderedSlot) {
    AmplifierParameterBlock other{};
    return records_.CopyParameters(orderedSlot, other) &&
           std::memcmp(other.amplifierSerial, parameters.amplifierSerial,
                       sizeof parameters.amplifierSerial) == 0;
  };
  if (ordering_.Load(slot, force - runtime.orderingThreshold >= 0.0f, sameAmplifier)) {
    platform::PostThreadMessage(Identifier(), kMsgOrderingComplete, ringIndex, position);
    std::this_thread::yield();
  }
}

void CThreadManager::OnOrderingComplete(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  StopAcquisition();
  platform::CriticalSectionLock lock(AssemblyLock());
  // A cancel or a new run since the completion leaves the order as it is.
  const auto completion = ordering_.TakeCompletion();
  if (!completion) return;
  dataFormat_ = completion->format;
  const int count = deviceCount_.load();
  order_.Adopt(completion->order.data(), count);
  order_.UpdatePositions(count);
}

}  // namespace torva
