#pragma once
// CUSBManager: the library object, one per loaded library. It survives between calls and knows
// the current control thread.
//
// Threads: the exported functions are meant to be called from one application thread; the
// manager's fields are only touched from there (and from the library's unload).

#include <chrono>
#include <memory>

#include "driver/control/thread_manager.h"
#include "platform/worker_thread.h"

namespace torva {

class CUSBManager {
 public:
  // How long a re-initialisation or the library's unload waits for a running control thread
  // (and its device threads) to end.
  static constexpr std::chrono::seconds kEndLimit{20};

  static CUSBManager& Instance();
  virtual ~CUSBManager();

  // The current control thread, or null before fmDLLInit and from fmDLLShutDown on.
  CThreadManager* Control() const { return control_; }

  // Creates the control thread and runs the bring-up. A control thread that still runs is shut
  // down first and waited for, so that no amplifier ever has two owners. False when the old
  // thread would not end or no thread could be created.
  bool Initialise();
  // Shuts the current control thread down. False when there is none.
  bool ShutDown();
  // True when no control thread runs any more.
  bool IsShutDown();

  void SetDataReadyFlag(int flag);

 private:
  CUSBManager() = default;
  // Waits for the previous control thread to end; true when it has.
  bool WaitForPreviousThread(std::chrono::nanoseconds limit);

  int dataReadyFlag_ = 0;
  std::shared_ptr<platform::ThreadHandle> controlHandle_;
  CThreadManager* control_ = nullptr;
};

}  // namespace torva
