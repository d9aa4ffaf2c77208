#include "driver/control/thread_manager.h"

#include <cstring>

#include "driver/control/library_locks.h"
#include "driver/control/message_numbers.h"
#include "driver/device/amplifier_device.h"

namespace torva {

void SlotRecords::AllocateZeroed() {
  std::lock_guard<std::mutex> guard(lock);
  if (!runtime) runtime = std::make_unique<DeviceRuntimeBlock>();
  if (!parameters) parameters = std::make_unique<AmplifierParameterBlock>();
  if (!endpoints) endpoints = std::make_unique<EndpointTable>();
  std::memset(runtime.get(), 0, sizeof(DeviceRuntimeBlock));
  std::memset(parameters.get(), 0, sizeof(AmplifierParameterBlock));
  std::memset(endpoints.get(), 0, sizeof(EndpointTable));
}

void SlotRecords::Free() {
  std::lock_guard<std::mutex> guard(lock);
  runtime.reset();
  parameters.reset();
  endpoints.reset();
}

CThreadManager::CThreadManager() {
  order_.fill(-1);
  positionOfSlot_.fill(0);
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
  LoadSavedSetup();
}

CThreadManager::~CThreadManager() {
  devices_.fill(nullptr);
  // The shutdown handler has already waited for every device thread; an object destroyed without
  // it (one whose thread never ran) waits here, bounded like the shutdown.
  if (!suspended_) WaitForDeviceThreads(kDeviceEndLimit);
  ReleaseEndedDevices();
  // A device thread that never ended keeps its object: deleting it under the running thread
  // would be worse than leaving it.
  for (auto& device : ownedDevices_) static_cast<void>(device.release());
}

bool CThreadManager::InitInstance() { return true; }

bool CThreadManager::OnIdle(long /*count*/) {
  // While polling, one pause every fourth step keeps the loop off the processor; waiting on the
  // queue instead of sleeping lets a posted packet or reply end the pause at once.
  const bool polling = pollState_.load() == kPollWaitingForReplies && deviceCount_.load() > 0;
  if (polling && idleCounter_ == 3) {
    idleCounter_ = 0;
    Queue().WaitForMessage(kIdlePause);
  } else if (polling) {
    ++idleCounter_;
  }

  if (pollState_.load() == kPollWaitingForReplies && BringUpComplete()) {
    pollState_ = kPollIdle;
    parameterReplies_ = 0;
    smartPlateCheckPending_ = 0;
    const bool refreshing = refreshRequested_.load() != 0;
    // A bring-up is reported complete only once the setup check has adopted the saved order, so
    // that a caller who starts acquisition at once starts it in that order.
    if (!refreshing) {
      if (configurationFound_.load() != 0) {
        platform::PostThreadMessage(Identifier(), kMsgRunSetupCheck, 0, 0);
      } else {
        RunSetupCheck();  // reports the missing file
        deviceInitState_ = kDeviceInitComplete;
      }
    } else {
      deviceInitState_ = kDeviceInitComplete;
      refreshComplete_ = 1;
    }
    refreshRequested_ = 0;
  }
  // Only a bring-up or refresh needs the idle step (it watches downloads that finish without a
  // message); otherwise the thread sleeps until a packet, reply or request is posted to it.
  return pollState_.load() == kPollWaitingForReplies && deviceCount_.load() > 0;
}

int CThreadManager::ExitInstance() { return WorkerThread::ExitInstance(); }

bool CThreadManager::BringUpComplete() {
  const int count = deviceCount_.load();
  if (count == 0) {
    deviceInitState_ = kDeviceInitNoAmplifiers;
    return false;
  }
  // Every amplifier must have answered: counting replies alone is not enough, since one
  // amplifier answers a refresh twice while another may not have answered yet.
  const std::uint32_t everySlot = count >= 32 ? ~0u : (1u << count) - 1u;
  if ((parametersAnswered_.load() & everySlot) == everySlot) {
    if (smartPlateCheckPending_.exchange(0) != 0) RunSmartPlateCheck();
    // Complete once every plate's download has finished (or none was needed).
    for (int slot = 0; slot < count; ++slot) {
      const CUSBDevice* device = Device(slot);
      if (device != nullptr && device->DownloadStatus() <= kDownloadRunning) {
        deviceInitState_ = kDeviceInitInProgress;
        return false;
      }
    }
    return true;
  }
  deviceInitState_ = kDeviceInitInProgress;
  return false;
}

void CThreadManager::SelectPosition(int position) {
  const int slot = SlotAt(position);
  if (slot != -1) selectedSlot_ = slot;
}

int CThreadManager::PositionOfSlot(int slot) const {
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position)
    if (order[static_cast<std::size_t>(position)] == slot) return position;
  return 0;
}

int CThreadManager::SlotAt(int position) const {
  if (position < 0 || position >= deviceCount_.load()) return -1;
  platform::CriticalSectionLock lock(AssemblyLock());
  return order_[static_cast<std::size_t>(position)];
}

std::array<int, kMaxAmplifiers> CThreadManager::PlatformOrder() const {
  platform::CriticalSectionLock lock(AssemblyLock());
  return order_;
}

int CThreadManager::SelectedPosition() const { return PositionOfSlot(selectedSlot_.load()); }

void CThreadManager::SetPacketSizeOfAll(std::int32_t packetSize) {
  const int count = deviceCount_.load();
  for (int slot = 0; slot < count; ++slot) {
    std::lock_guard<std::mutex> guard(slots_[slot].lock);
    if (slots_[slot].runtime) slots_[slot].runtime->packetSize = packetSize;
  }
}

std::int32_t CThreadManager::PacketSize(int slot) const {
  if (slot < 0 || slot >= kMaxAmplifiers) return 0;
  std::lock_guard<std::mutex> guard(slots_[slot].lock);
  return slots_[slot].runtime ? slots_[slot].runtime->packetSize : 0;
}

void CThreadManager::NotifyThread(platform::ThreadId thread) {
  targetThread_ = thread;
  targetKind_ = static_cast<int>(NotifyTarget::kThread);
}

void CThreadManager::NotifyWindow(platform::WindowHandle window) {
  targetWindow_ = window;
  targetKind_ = static_cast<int>(NotifyTarget::kWindow);
}

template <typename Record>
bool CThreadManager::CopyRecord(int slot, std::unique_ptr<Record> SlotRecords::*record,
                                Record& out) const {
  if (slot < 0 || slot >= kMaxAmplifiers) return false;
  const SlotRecords& records = slots_[slot];
  std::lock_guard<std::mutex> guard(records.lock);
  if (!(records.*record)) return false;
  out = *(records.*record);
  return true;
}

bool CThreadManager::CopyParameters(int slot, AmplifierParameterBlock& out) const {
  return CopyRecord(slot, &SlotRecords::parameters, out);
}

bool CThreadManager::CopyRuntime(int slot, DeviceRuntimeBlock& out) const {
  return CopyRecord(slot, &SlotRecords::runtime, out);
}

}  // namespace torva
