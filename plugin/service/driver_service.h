#pragma once
// VTorvaDriverService: the plugin's one owner of the driver library. Every driver call the plugin
// makes is made here, almost all on the service's worker thread. The host devices queue commands
// (detection, start, stop, rate, blink, USB reset), call ZeroPlates synchronously, and receive
// results through three callbacks: the detection result, running-state changes and blocks of
// float data.
//
// Threads: the host's threads construct and destroy the service and call PostCommand,
// BeginDetection, the two setters, ZeroPlates and the flag accessors. The worker thread runs every
// command, the data pump and all three callbacks; the driver library posts "data ready" to it.
// Locks: queueMutex guards the command queue (and the wake-up post) only; deviceMutex is held by
// every command's driver work, by ZeroPlates and by the setters. The two are never held together,
// and no callback runs under deviceMutex, so a callback may queue commands or replace callbacks.
//
// Life cycle: the constructor returns once the worker's message queue exists. The destructor ends
// the worker (every command queued before it still runs), then stops and shuts the driver library
// down if this service ever started it.

#include <atomic>
#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/barrier.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <deque>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "plugin/frame/host_interface.h"

namespace Torva {

namespace platform = torva::platform;

class VTorvaDriverService {
 public:
  // The outcome of initialising the driver library.
  struct VDllInitInfo {
    int status = 0;     // 0 same setup as saved, 1 any other setup-check code, 2 timed out
    int setupCode = 0;  // what the setup check returned (set only when initialisation finished)
    std::string message;
  };
  // One amplifier with its platform.
  struct VDeviceInfo {
    int productType = 0;
    std::string amplifierModel;
    std::string amplifierSerial;
    std::string firmwareVersion;
    std::string platformModel;
    std::string platformSerial;
    std::vector<float> xyzOffsets = std::vector<float>(3, 0.0f);
    std::string platformLength;
    std::string platformWidth;
    int deviceIndex = 0;  // the position the driver library selects the amplifier by
  };
  using DetectionCallback = boost::function<void(VDllInitInfo, std::vector<VDeviceInfo>)>;
  using RunningCallback = boost::function<void(bool)>;
  using DataCallback = boost::function<void(float*)>;
  using Command = boost::function<void()>;

  explicit VTorvaDriverService(SabloDigitalDevice::IHostServices* services);
  VTorvaDriverService(const VTorvaDriverService&) = delete;
  VTorvaDriverService& operator=(const VTorvaDriverService&) = delete;
  virtual ~VTorvaDriverService();

  // Appends a command and wakes the worker; commands run one at a time, in posting order.
  void PostCommand(Command command);
  void BeginDetection(DetectionCallback callback);
  void SetRunningCallback(RunningCallback callback);
  // Only the first callback is installed; later calls change nothing.
  void SetDataCallback(DataCallback callback);
  // Zeroes every plate now, on the caller's thread, while acquisition runs.
  void ZeroPlates();

  bool Running() const { return running.load(); }
  bool Initialised() const { return initialised.load(); }
  // The driver's error record ("" while it holds none, or before the driver is initialised).
  std::string ErrorRecord() const;
  bool StopPending() const { return stopPending.load(); }
  // Set by a device when it queues a stop; cleared when a stop, USB reset or initialisation runs.
  void SetStopPending(bool pending) { stopPending = pending; }

  // Commands: bind them to this service and hand them to PostCommand. They run on the worker.
  void DetectDevices(DetectionCallback callback);
  void StartAcquisition();
  void StopAcquisition();
  void ResetUsb();
  void SetAcquisitionRate(unsigned int rate);
  void BlinkDevice(unsigned int deviceIndex);

  platform::ThreadId WorkerThreadId() const { return workerThreadId; }

 private:
  using Lock = boost::unique_lock<boost::mutex>;

  void RunWorker();
  void PumpData();
  void RunOneCommand();
  void InitialiseDriver(VDllInitInfo& info);
  VDeviceInfo ReadDeviceInfo(int deviceIndex);
  // Sets `running` and tells the running callback, called outside `held` (released first).
  void NotifyRunning(bool value, Lock& held);
  template <typename... Arguments>
  void Trace(const char* pattern, const Arguments&... arguments);

  boost::mutex deviceMutex;
  std::deque<Command> commandQueue;
  boost::mutex queueMutex;
  RunningCallback runningCallback;
  DataCallback dataCallback;
  boost::barrier startBarrier{2};
  boost::shared_ptr<boost::thread> workerThread;
  platform::ThreadId workerThreadId = 0;
  std::atomic<bool> running{false};
  std::atomic<bool> initialised{false};
  std::atomic<bool> stopPending{false};
  SabloDigitalDevice::IHostServices* hostServices = nullptr;
  // fmDLLInit was called, whether or not the library answered in time: the destructor then shuts
  // it down, so no initialisation is left running.
  std::atomic<bool> driverStarted{false};
};

}  // namespace Torva
