#include "driver/control/device_table.h"

#include <algorithm>

#include "driver/device/amplifier_device.h"
#include "driver/device/device_messages.h"
#include "platform/thread_messages.h"

namespace torva {
namespace {

// How often the wait for the device threads ends the transfers of those still running.
constexpr std::chrono::milliseconds kDeviceEndPoll{20};

bool Ended(const std::shared_ptr<platform::ThreadHandle>& handle) {
  return !handle || handle->HasEnded();
}

}  // namespace

DeviceTable::DeviceTable() = default;
DeviceTable::~DeviceTable() = default;

CUSBDevice* DeviceTable::Create(int slot) {
  auto owned = std::make_unique<CUSBDevice>();
  CUSBDevice* device = owned.get();
  device->SetAutoDelete(false);
  if (!device->CreateThread(platform::ThreadPriority::kTimeCritical)) return nullptr;
  owned_.push_back(std::move(owned));
  handles_[static_cast<std::size_t>(slot)] = device->Handle();
  return device;
}

void DeviceTable::Name(int slot, CUSBDevice& device) {
  devices_[static_cast<std::size_t>(slot)] = &device;
  threads_[static_cast<std::size_t>(slot)] = device.Identifier();
}

void DeviceTable::Retire(int slot, CUSBDevice& device) {
  retired_.push_back(device.Handle());
  handles_[static_cast<std::size_t>(slot)].reset();
}

void DeviceTable::Forget() {
  devices_.fill(nullptr);
  threads_.fill(0);
}

void DeviceTable::TellThreadsToEnd(int count) {
  for (int slot = 0; slot < count; ++slot) {
    platform::PostThreadMessage(threads_[static_cast<std::size_t>(slot)], kMsgDeviceQuit, 0,
                                kDeviceQuitLParam);
    if (CUSBDevice* device = devices_[static_cast<std::size_t>(slot)]) device->AbortTransfers();
  }
}

void DeviceTable::WaitForThreads(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const bool allEnded = std::all_of(handles_.begin(), handles_.end(), Ended) &&
                          std::all_of(retired_.begin(), retired_.end(), Ended);
    if (allEnded || std::chrono::steady_clock::now() >= deadline) break;
    for (const auto& device : owned_)
      if (!device->Handle()->HasEnded()) device->AbortTransfers();
    for (auto& handle : handles_)
      if (!Ended(handle)) handle->WaitForEnd(kDeviceEndPoll);
    for (auto& handle : retired_)
      if (!Ended(handle)) handle->WaitForEnd(kDeviceEndPoll);
  }
  for (auto& handle : handles_) handle.reset();
  retired_.clear();
}

void DeviceTable::ReleaseEnded() {
  auto ended = [this](const std::unique_ptr<CUSBDevice>& device) {
    const bool named = std::find(devices_.begin(), devices_.end(), device.get()) != devices_.end();
    return !named && device->Handle()->HasEnded();
  };
  owned_.erase(std::remove_if(owned_.begin(), owned_.end(), ended), owned_.end());
}

void DeviceTable::LeaveRunning() {
  for (auto& device : owned_) static_cast<void>(device.release());
}

}  // namespace torva
