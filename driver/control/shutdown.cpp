// Shutdown: the caller's side tells every thread to end; the control thread frees the buffers,
// waits for its device threads and quits.

#include <algorithm>

#include "driver/control/library_locks.h"
#include "driver/device/amplifier_device.h"
#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"
#include "platform/sleep_clock.h"

namespace torva {
namespace {

// Lets the amplifiers' stop replies arrive before the threads are told to end.
constexpr std::chrono::milliseconds kShutdownSettle{250};
// How often the shutdown ends the transfers of device threads that have not ended yet.
constexpr std::chrono::milliseconds kDeviceEndPoll{20};

}  // namespace

void CThreadManager::RequestShutdown() {
  StopAcquisition();
  platform::PrescribedSleep(kShutdownSettle);
  const int count = deviceCount_.load();
  for (int slot = 0; slot < count; ++slot) {
    platform::PostThreadMessage(deviceThreads_[slot], kMsgDeviceQuit, 0, kDeviceQuitLParam);
    // A device thread waiting for a slow or silent amplifier would see its quit message only
    // when the transfer times out: end the transfer now.
    if (CUSBDevice* device = devices_[static_cast<std::size_t>(slot)]) device->AbortTransfers();
  }
  platform::PostThreadMessage(Identifier(), kMsgShutdown, 0, 0);
}

void CThreadManager::OnShutdown(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  {
    platform::CriticalSectionLock lock(AssemblyLock());
    FreeAll();
    suspended_ = true;
  }
  // No thread of the library outlives the control thread: once fmIsDLLShutDown reports the end,
  // the library can be unloaded.
  WaitForDeviceThreads(kDeviceEndLimit);
  ReleaseEndedDevices();
  platform::PostQuitMessage(kControlThreadExitCode);
}

void CThreadManager::FreeAll() {
  for (SlotRecords& records : slots_) records.Free();
  assembler_.Release();
  devices_.fill(nullptr);
}

void CThreadManager::ReleaseEndedDevices() {
  auto ended = [this](const std::unique_ptr<CUSBDevice>& device) {
    const bool named = std::find(devices_.begin(), devices_.end(), device.get()) != devices_.end();
    return !named && device->Handle()->HasEnded();
  };
  ownedDevices_.erase(std::remove_if(ownedDevices_.begin(), ownedDevices_.end(), ended),
                      ownedDevices_.end());
}

void CThreadManager::WaitForDeviceThreads(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto ended = [](const std::shared_ptr<platform::ThreadHandle>& handle) {
    return !handle || handle->HasEnded();
  };
  for (;;) {
    const bool allEnded = std::all_of(deviceHandles_.begin(), deviceHandles_.end(), ended) &&
                          std::all_of(retiredHandles_.begin(), retiredHandles_.end(), ended);
    if (allEnded || std::chrono::steady_clock::now() >= deadline) break;
    // A device thread may have started one more transfer after it was told to end: end that
    // too, again and again, until the thread sees its quit message.
    for (const auto& device : ownedDevices_)
      if (!device->Handle()->HasEnded()) device->AbortTransfers();
    for (auto& handle : deviceHandles_)
      if (!ended(handle)) handle->WaitForEnd(kDeviceEndPoll);
    for (auto& handle : retiredHandles_)
      if (!ended(handle)) handle->WaitForEnd(kDeviceEndPoll);
  }
  for (auto& handle : deviceHandles_) handle.reset();
  retiredHandles_.clear();
}

}  // namespace torva
