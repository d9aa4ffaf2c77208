// The control thread's life cycle: construction, the bring-up, the idle step that watches it,
// the device threads' messages, and the shutdown.

#include "driver/control/thread_manager.h"

#include <algorithm>
#include <string>

#include "driver/control/library_locks.h"
#include "driver/control/message_numbers.h"
#include "driver/device/amplifier_device.h"
#include "driver/usb/usb_types.h"
#include "platform/diagnostic_log.h"
#include "platform/sleep_clock.h"

namespace torva {
namespace {

// Lets a device thread whose amplifier failed to open start before it is told to end.
constexpr std::chrono::milliseconds kFailedOpenSettle{100};
// Lets the amplifiers' stop replies arrive before the threads are told to end.
constexpr std::chrono::milliseconds kShutdownSettle{250};
constexpr const char* kInUseMessage = "The amplifier is in use by another program.";
// The error record's message when an amplifier leaves the bus while the library uses it.
constexpr const char* kDeviceLostMessage = "The amplifier was disconnected.";

}  // namespace

CThreadManager::CThreadManager() {
  MapMessage(kMsgDeviceThreadEnded, [this](platform::WParam w, platform::LParam l) {
    OnDeviceThreadEnded(w, l);
  });
  MapMessage(kMsgShutdown, [this](platform::WParam w, platform::LParam l) { OnShutdown(w, l); });
  MapMessage(kMsgPacketArrived,
             [this](platform::WParam w, platform::LParam l) { OnPacketArrived(w, l); });
  MapMessage(kMsgReplyArrived,
             [this](platform::WParam w, platform::LParam l) { OnReplyArrived(w, l); });
  MapMessage(kMsgDeviceLost,
             [this](platform::WParam w, platform::LParam l) { OnDeviceLost(w, l); });
  MapMessage(kMsgRunSetupCheck,
             [this](platform::WParam w, platform::LParam l) { OnRunSetupCheck(w, l); });
  MapMessage(kMsgOrderingComplete,
             [this](platform::WParam w, platform::LParam l) { OnOrderingComplete(w, l); });
}

CThreadManager::~CThreadManager() {
  devices_.Forget();
  // The shutdown handler has already waited for every device thread; an object destroyed without
  // it (one whose thread never ran) waits here, bounded like the shutdown.
  if (!suspended_) devices_.WaitForThreads(kDeviceEndLimit);
  devices_.ReleaseEnded();
  devices_.LeaveRunning();
}

bool CThreadManager::InitInstance() { return true; }

int CThreadManager::ExitInstance() { return WorkerThread::ExitInstance(); }

bool CThreadManager::OnIdle(long /*count*/) {
  // While polling, one pause every fourth step keeps the loop off the processor; waiting on the
  // queue instead of sleeping lets a posted packet or reply end the pause at once.
  const bool polling = progress_.Waiting() && deviceCount_.load() > 0;
  if (polling && idleCounter_ == 3) {
    idleCounter_ = 0;
    Queue().WaitForMessage(kIdlePause);
  } else if (polling) {
    ++idleCounter_;
  }

  if (progress_.Waiting() && BringUpComplete() && !progress_.FinishReading()) {
    // A bring-up is reported complete only once the setup check has adopted the saved order, so
    // that a caller who starts acquisition at once starts it in that order.
    if (setup_.ConfigurationFound()) {
      platform::PostThreadMessage(Identifier(), kMsgRunSetupCheck, 0, 0);
    } else {
      RunSetupCheck();  // reports the missing file
      progress_.SetInitState(kDeviceInitComplete);
    }
  }
  // Only a bring-up or refresh needs the idle step (it watches downloads that finish without a
  // message); otherwise the thread sleeps until a packet, reply or request is posted to it.
  return progress_.Waiting() && deviceCount_.load() > 0;
}

bool CThreadManager::BringUpComplete() {
  const int count = deviceCount_.load();
  if (count == 0) {
    progress_.SetInitState(kDeviceInitNoAmplifiers);
    return false;
  }
  if (progress_.EveryAmplifierAnswered(count)) {
    if (progress_.TakeSmartPlateCheck()) RunSmartPlateCheck();
    // Complete once every plate's download has finished (or none was needed).
    for (int slot = 0; slot < count; ++slot) {
      const CUSBDevice* device = Device(slot);
      if (device != nullptr && device->DownloadStatus() <= kDownloadRunning) {
        progress_.SetInitState(kDeviceInitInProgress);
        return false;
      }
    }
    return true;
  }
  progress_.SetInitState(kDeviceInitInProgress);
  return false;
}

void CThreadManager::OnDeviceThreadEnded(platform::WParam wParam, platform::LParam /*lParam*/) {
  BringUp(wParam);
}

void CThreadManager::BringUp(platform::WParam wParam) {
  if (!progress_.ThreadEnded(deviceCount_.load(), wParam == kBringUpDirect)) return;

  progress_.StopWaiting();
  devices_.Forget();
  devices_.ReleaseEnded();
  {
    platform::CriticalSectionLock lock(AssemblyLock());
    order_.Clear();
    ordering_.Clear();
    assembler_.ClearCounters();
  }
  progress_.ClearEndedThreads();

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
    progress_.StartWaiting();
    WakeIdleStep();
    return;
  }

  {
    platform::CriticalSectionLock lock(AssemblyLock());
    order_.Identity(opened);
    order_.UpdatePositions(opened);
  }
  for (int slot = 0; slot < opened; ++slot) {
    selectedSlot_ = slot;
    Device(slot)->SelectEndpoints(CUSBDevice::kDataEndpointIndex, CUSBDevice::kSecondEndpointIndex,
                                  CUSBDevice::kThirdEndpointIndex);
    records_.SetPacketSize(slot, kDefaultPacketSize);
  }
  StartParameterRefresh();
  progress_.ClearEndedThreads();
  holdFirstPacket_ = 0;
}

bool CThreadManager::CreateDevice(int slot, int ordinal, int& found) {
  records_.Allocate(slot);
  CUSBDevice* device = devices_.Create(slot);
  if (device == nullptr) {
    TORVA_LOG_ERROR("bring-up: no thread for amplifier %d", ordinal);
    return false;
  }
  device->SetIdentity(slot, Identifier());
  device->SetExitNotice(false);
  device->ClearRuntimeLastWord();

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
    devices_.Retire(slot, *device);
    device->Resume();
    platform::PrescribedSleep(kFailedOpenSettle);
    platform::PostThreadMessage(device->Identifier(), kMsgDeviceQuit, 0, kDeviceQuitLParam);
    return false;
  }
  device->BuildEndpointTable();
  records_.EditEndpoints(slot, [&](EndpointTable& endpoints) { device->CopyEndpointTable(endpoints); });
  devices_.Name(slot, *device);
  device->Resume();
  return true;
}

void CThreadManager::StartParameterRefresh() {
  stops_.ClearReplyCount();
  progress_.BeginReading();
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position)
    IssueCommand(order[static_cast<std::size_t>(position)], CommandCode::kReadAllParameters);
  TORVA_LOG_INFO("bring-up: reading the parameters of %d amplifier(s)", count);
  WakeIdleStep();
}

void CThreadManager::WakeIdleStep() {
  platform::PostThreadMessage(Identifier(), platform::kKickIdleMessage, 0, 0);
}

void CThreadManager::OnDeviceLost(platform::WParam /*wParam*/, platform::LParam lParam) {
  const auto slot = static_cast<int>(lParam);
  if (slot < 0 || slot >= kMaxAmplifiers) return;
  const std::string serial = records_.AmplifierSerial(slot);
  TORVA_LOG_WARNING("slot %d: amplifier %s left the bus", slot, serial.c_str());
  stops_.Lost(slot);
  errors_.Set(serial, std::to_string(static_cast<int>(usb::UsbResult::kNoDevice)),
              kDeviceLostMessage);
}

void CThreadManager::RequestShutdown() {
  StopAcquisition();
  platform::PrescribedSleep(kShutdownSettle);
  devices_.TellThreadsToEnd(deviceCount_.load());
  platform::PostThreadMessage(Identifier(), kMsgShutdown, 0, 0);
}

void CThreadManager::OnShutdown(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  {
    platform::CriticalSectionLock lock(AssemblyLock());
    records_.FreeAll();
    assembler_.Release();
    devices_.Forget();
    suspended_ = true;
  }
  // No thread of the library outlives the control thread: once fmIsDLLShutDown reports the end,
  // the library can be unloaded.
  devices_.WaitForThreads(kDeviceEndLimit);
  devices_.ReleaseEnded();
  platform::PostQuitMessage(kControlThreadExitCode);
}

}  // namespace torva
