#include "driver/api/usb_manager.h"

#include "driver/control/message_numbers.h"

namespace torva {

CUSBManager& CUSBManager::Instance() {
  static CUSBManager manager;
  return manager;
}

CUSBManager::~CUSBManager() {
  // The library is being unloaded: its threads must not outlive its code.
  if (ShutDown()) WaitForPreviousThread(kEndLimit);
}

bool CUSBManager::Initialise() {
  if (control_ != nullptr) ShutDown();
  if (!WaitForPreviousThread(kEndLimit)) return false;

  auto* control = new CThreadManager;
  if (!control->CreateThread(platform::ThreadPriority::kTimeCritical)) {
    delete control;
    return false;
  }
  controlHandle_ = control->Handle();
  control_ = control;
  control->Notifier().SetFlag(dataReadyFlag_);
  control->Progress().SetInitState(kDeviceInitInProgress);
  control->Resume();
  control->BringUp(kBringUpDirect);
  return true;
}

bool CUSBManager::ShutDown() {
  CThreadManager* control = control_;
  if (control == nullptr) return false;
  // Forget the control thread at once: the object deletes itself when its thread ends, so no
  // later call may reach it.
  control_ = nullptr;
  control->RequestShutdown();
  return true;
}

bool CUSBManager::IsShutDown() {
  if (control_ != nullptr) return false;
  if (controlHandle_ && !controlHandle_->HasEnded()) return false;
  controlHandle_.reset();
  return true;
}

void CUSBManager::SetDataReadyFlag(int flag) {
  dataReadyFlag_ = flag != 0 ? 1 : 0;
  if (control_ != nullptr) control_->Notifier().SetFlag(dataReadyFlag_);
}

bool CUSBManager::WaitForPreviousThread(std::chrono::nanoseconds limit) {
  if (!controlHandle_) return true;
  if (!controlHandle_->WaitForEnd(limit)) return false;
  controlHandle_.reset();
  return true;
}

}  // namespace torva
