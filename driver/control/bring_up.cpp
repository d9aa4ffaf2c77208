// Bring-up: finds the amplifiers, creates one device thread per amplifier and starts reading every
// amplifier's parameters. Runs on the caller's thread inside fmDLLInit, and on the control thread
// once every device thread of a previous bring-up has ended.

#include <algorithm>
#include <string>

#include "driver/control/library_locks.h"
#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
#include "driver/usb/usb_types.h"
#include "platform/diagnostic_log.h"
#include "platform/sleep_clock.h"

namespace torva {
namespace {

// Lets a device thread whose amplifier failed to open start before it is told to end.
constexpr std::chrono::milliseconds kFailedOpenSettle{100};
constexpr const char* kInUseMessage = "The amplifier is in use by another program.";

}  // namespace

void CThreadManager::OnDeviceThreadEnded(platform::WParam wParam, platform::LParam /*lParam*/) {
  BringUp(wParam);
}

void CThreadManager::BringUp(platform::WParam wParam) {
  const int exited = ++exitedThreads_;
  if (exited != deviceCount_.load() && wParam != kBringUpDirect) return;

  pollState_ = kPollIdle;
  devices_.fill(nullptr);
  deviceThreads_.fill(0);
  ReleaseEndedDevices();
  {
    platform::CriticalSectionLock lock(AssemblyLock());
    order_.fill(-1);
    ordering_.Clear();
    assembler_.ClearCounters();
  }
  exitedThreads_ = 0;

  // The first amplifier opened reports how many the bus holds; until then assume one. An
  // amplifier that fails to open (unplugged during the bring-up, say) is skipped and the next
  // one takes its slot, so the others still come up.
  int found = 1;
  int opened = 0;
  for (int ordinal = 0; ordinal < found && opened < kMaxAmplifiers; ++ordinal) {
    if (CreateDevice(opened, ordinal, found)) ++opened;
  }
  deviceCount_ = opened;
  TORVA_LOG_INFO("bring-up: %d of %d amplifier(s) opened", opened, found);
  if (opened == 0) {
    pollState_ = kPollWaitingForReplies;
    WakeIdleStep();
    return;
  }

  {
    platform::CriticalSectionLock lock(AssemblyLock());
    for (int slot = 0; slot < opened; ++slot) order_[slot] = slot;
    UpdatePositions();
  }
  for (int slot = 0; slot < opened; ++slot) {
    selectedSlot_ = slot;
    devices_[slot]->SelectEndpoints(CUSBDevice::kDataEndpointIndex,
                                    CUSBDevice::kSecondEndpointIndex,
                                    CUSBDevice::kThirdEndpointIndex);
    std::lock_guard<std::mutex> guard(slots_[slot].lock);
    slots_[slot].runtime->packetSize = kDefaultPacketSize;
  }
  StartParameterRefresh();
  exitedThreads_ = 0;
  holdFirstPacket_ = 0;
}

bool CThreadManager::CreateDevice(int slot, int ordinal, int& found) {
  slots_[slot].AllocateZeroed();
  auto owned = std::make_unique<CUSBDevice>();
  CUSBDevice* device = owned.get();
  device->SetAutoDelete(false);
  if (!device->CreateThread(platform::ThreadPriority::kTimeCritical)) {
    TORVA_LOG_ERROR("bring-up: no thread for amplifier %d", ordinal);
    return false;
  }
  ownedDevices_.push_back(std::move(owned));
  device->SetIdentity(slot, Identifier());
  device->SetExitNotice(false);
  device->ClearRuntimeLastWord();
  deviceHandles_[slot] = device->Handle();

  const CUSBDevice::OpenOutcome opened = device->OpenAmplifier(ordinal);
  if (ordinal == 0) found = std::min(device->AmplifiersFound(), kMaxAmplifiers);
  if (opened == CUSBDevice::OpenOutcome::kInUse) {
    // Another program records with it: sending it anything would spoil that recording.
    const std::string& serial = device->MatchedSerial();
    TORVA_LOG_WARNING("bring-up: amplifier %s is in use by another program: left out",
                      serial.c_str());
    errors_.Set(serial, std::to_string(static_cast<int>(usb::UsbResult::kBusy)), kInUseMessage);
  }
  if (opened != CUSBDevice::OpenOutcome::kOpened) {
    TORVA_LOG_WARNING("bring-up: amplifier %d did not open; the next one takes slot %d", ordinal,
                      slot);
    // The thread ends at once; shutdown still waits for it through its handle.
    retiredHandles_.push_back(device->Handle());
    deviceHandles_[slot].reset();
    device->Resume();
    platform::PrescribedSleep(kFailedOpenSettle);
    platform::PostThreadMessage(device->Identifier(), kMsgDeviceQuit, 0, kDeviceQuitLParam);
    return false;
  }
  device->BuildEndpointTable();
  {
    std::lock_guard<std::mutex> guard(slots_[slot].lock);
    device->CopyEndpointTable(*slots_[slot].endpoints);
  }
  devices_[slot] = device;
  deviceThreads_[slot] = device->Identifier();
  device->Resume();
  return true;
}

void CThreadManager::StartParameterRefresh() {
  parameterReplies_ = 0;
  parametersAnswered_ = 0;
  stopAcknowledgements_ = 0;
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position)
    IssueCommand(order[static_cast<std::size_t>(position)], CommandCode::kReadAllParameters);
  TORVA_LOG_INFO("bring-up: reading the parameters of %d amplifier(s)", count);
  pollState_ = kPollWaitingForReplies;
  smartPlateCheckPending_ = 1;
  WakeIdleStep();
}

void CThreadManager::WakeIdleStep() {
  platform::PostThreadMessage(Identifier(), platform::kKickIdleMessage, 0, 0);
}

}  // namespace torva
