#pragma once
// What the benchmark programs share: bringing the library up on emulated amplifiers, process CPU
// time, waiting for frames on the data-ready message.

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/usb_manager.h"
#include "driver/device/amplifier_device.h"
#include "platform/thread_messages.h"

namespace torva::bench {

using Clock = std::chrono::steady_clock;

// The process's user and system CPU time and its context switches (each wake-up of a sleeping
// thread is one), ended threads included.
struct ProcessUsage {
  double userSeconds = 0;
  double systemSeconds = 0;
  long long contextSwitches = 0;

  static ProcessUsage Now() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    ProcessUsage now;
    now.userSeconds = static_cast<double>(usage.ru_utime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec) * 1e-6;
    now.systemSeconds = static_cast<double>(usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_stime.tv_usec) * 1e-6;
    now.contextSwitches = usage.ru_nvcsw + usage.ru_nivcsw;
    return now;
  }
  ProcessUsage operator-(const ProcessUsage& earlier) const {
    return {userSeconds - earlier.userSeconds, systemSeconds - earlier.systemSeconds,
            contextSwitches - earlier.contextSwitches};
  }
};

inline double ProcessCpuSeconds() {
  timespec used{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

// Initialises the library on `amplifiers` emulated amplifiers; false when the bring-up failed.
inline bool BringUpEmulated(int amplifiers) {
  ::setenv("TORVA_SIMULATE", std::to_string(amplifiers).c_str(), 1);
  if (::getenv("TORVA_SETTINGS") == nullptr) ::setenv("TORVA_SETTINGS", "/tmp/torva-bench-settings.conf", 1);
  if (fmDLLInit() != 1) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fmDLLIsDeviceInitComplete() == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return fmDLLGetDeviceCount() == amplifiers;
}

// Sends data-ready messages to the calling thread.
inline void NotifyThisThread() {
  fmDLLPostDataReadyMessages(1);
  fmDLLPostUserThreadMessages(static_cast<int>(platform::CurrentThreadId()));
}

// Waits until every amplifier has taken the settings sent to it and is ready to start.
inline bool WaitForSettledAmplifiers() {
  CThreadManager& control = *CUSBManager::Instance().Control();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int slot = 0; slot < control.DeviceCount(); ++slot) {
    CUSBDevice* device = control.Device(slot);
    while (device->QueuedCommands() != 0 || device->LastReplyStatus() != 1) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return true;
}

// Brings `amplifiers` emulated amplifiers up at `rate` samples/s in data format 1, ready to
// start, with data-ready messages going to the calling thread. Prints what failed.
inline bool PrepareStreaming(int amplifiers, int rate) {
  if (!BringUpEmulated(amplifiers)) {
    std::fprintf(stderr, "bring-up failed\n");
    return false;
  }
  fmBroadcastAcquisitionRate(rate);
  fmDLLSetDataFormat(1);
  if (!WaitForSettledAmplifiers()) {
    std::fprintf(stderr, "amplifiers did not settle\n");
    return false;
  }
  NotifyThisThread();
  return true;
}

// Frames the library's ring overwrote before they were taken (0 while the library is down).
inline int RingOverruns() {
  CThreadManager* control = CUSBManager::Instance().Control();
  return control != nullptr ? control->Assembler().Ring().Overruns() : 0;
}

inline void ShutDown() {
  fmDLLShutDown();
  while (fmIsDLLShutDown() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Waits up to `limit` for a data-ready message and empties the queue; true when one came.
inline bool WaitForDataReady(std::chrono::milliseconds limit) {
  if (!platform::WaitForMessage(limit)) return false;
  platform::Message message;
  while (platform::PeekMessage(message, true)) {
  }
  return true;
}

}  // namespace torva::bench
