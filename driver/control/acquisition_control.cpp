// Starting, stopping and configuring acquisition on every amplifier together.

#include "driver/control/library_locks.h"
#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
#include "driver/usb/usb_types.h"
#include "platform/diagnostic_log.h"

namespace torva {
namespace {

// Sampling starts this many USB frames after the frame read at the start, so that the start
// command reaches every amplifier before then.
constexpr std::uint32_t kStartFrameLead = 32;

}  // namespace

void CThreadManager::StartAcquisition() {
  const int count = deviceCount_.load();
  if (count == 0) return;
  stopped_ = 0;
  lastBroadcastWasStop_ = false;
  stopAcknowledged_ = 0;
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
  EditRecords(slot, [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
    runtime.startFrame = startFrame;
  });
  if (!ordering_.Active()) deliveryEnabled_ = 1;
  if (!firstOfStart) return;
  // Buffers are sized here, never on the packet path.
  platform::CriticalSectionLock lock(AssemblyLock());
  assembler_.Reset(deviceCount_.load(), PacketSize(slot), dataFormat_.load());
  UpdatePositions();
}

void CThreadManager::StopAcquisition() {
  const int count = deviceCount_.load();
  lastBroadcastWasStop_ = true;
  stopAcknowledged_ = 0;
  std::uint32_t alreadyStopped = 0;
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position) {
    const int slot = order[static_cast<std::size_t>(position)];
    if (slot == -1) continue;
    // An amplifier that was not streaming gets no stop and has nothing to acknowledge.
    if (!IssueCommand(slot, CommandCode::kStop)) alreadyStopped |= 1u << slot;
  }
  stopAcknowledged_ |= alreadyStopped;
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
  if (!lastBroadcastWasStop_.load()) return 0;
  const int count = deviceCount_.load();
  const std::uint32_t acknowledged = stopAcknowledged_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position) {
    const int slot = order[static_cast<std::size_t>(position)];
    if (slot >= 0 && (acknowledged & (1u << slot)) == 0) return 0;
  }
  return 1;
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
    if (EditRecords(slot, [&](AmplifierParameterBlock& parameters, DeviceRuntimeBlock&) {
          parameters.*field = value;
        }))
      IssueCommand(slot, code);
  }
}

}  // namespace torva
