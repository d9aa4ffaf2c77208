#include "plugin/service/driver_service.h"

#include <array>
#include <boost/bind/bind.hpp>
#include <chrono>
#include <cstring>
#include <utility>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/error_record_text.h"
#include "platform/sleep_clock.h"
#include "platform/thread_messages.h"
#include "plugin/service/driver_text.h"
#include "plugin/service/plugin_log.h"
#include "plugin/service/service_messages.h"
#include "plugin/service/smart_plate_download.h"

namespace Torva {
namespace {

using std::chrono::milliseconds;

// The prescribed pauses.
constexpr milliseconds kBeforeDriverCall{250};
constexpr milliseconds kAfterInit{250};
constexpr milliseconds kBetweenInitPolls{250};
constexpr milliseconds kAfterSettings{1000};
constexpr milliseconds kAfterRepeatedStop{1000};
constexpr milliseconds kBeforeResult{500};
constexpr milliseconds kBeforeResultOfMany{2000};
constexpr milliseconds kAfterShutdown{500};
constexpr int kInitPolls = 51;
// More devices than this wait longer before the detection result.
constexpr std::size_t kManyDevices = 4;

// Acquisition settings sent after every initialisation.
constexpr int kPacketSize = 512;
constexpr int kRunMode = 0;
constexpr int kDataFormat = 1;
constexpr int kGenlock = 0;
// Product type whose platforms report their XYZ offsets.
constexpr int kOffsetsProductType = 100;

constexpr int kSetupSame = 1;
constexpr const char* kTimeoutMessage =
    "Torva device initialization timed out, consider restarting the application.";

// The message of a setup-check code. The 215 text's apostrophe is the single byte 0x92.
const char* SetupMessage(int code) {
  switch (code) {
    case 0: return "No Torva devices were found";
    case 1: return "The Torva setup is the same as the last saved configuration";
    case 211: return "The configuration file was not found";
    case 213: return "A configuration file was found but for the wrong version of the software";
    case 214:
      return "The configuration has changed. A different number of Torva devices were detected "
             "than the previously saved setup.";
    case 215:
      return "The configuration has changed. The serial numbers don\x92t match the previously "
             "saved setup.";
    default: return "fmDLLSetupCheck returned an unknown status code";
  }
}

}  // namespace

template <typename... Arguments>
void VTorvaDriverService::Trace(const char* pattern, const Arguments&... arguments) {
  LogFormatted(hostServices, kSeverityTrace, pattern, arguments...);
}

VTorvaDriverService::VTorvaDriverService(SabloDigitalDevice::IHostServices* services)
    : hostServices(services) {
  workerThread.reset(new boost::thread(boost::bind(&VTorvaDriverService::RunWorker, this)));
  startBarrier.wait();
}

VTorvaDriverService::~VTorvaDriverService() {
  platform::PostThreadMessage(workerThreadId, kMsgQuitWorker, 0, 0);
  try {
    workerThread->join();
  } catch (...) {
  }
  workerThread.reset();
  if (!driverStarted.load()) return;
  platform::PrescribedSleep(kBeforeDriverCall);
  fmBroadcastStop();
  platform::PrescribedSleep(kBeforeDriverCall);
  fmDLLShutDown();
  Trace("::fmDLLShutDown");
  platform::PrescribedSleep(kAfterShutdown);
}

void VTorvaDriverService::RunWorker() {
  // The queue exists from here on, so nothing posted after the constructor returns is lost.
  workerThreadId = platform::CurrentThreadId();
  startBarrier.wait();
  platform::Message message;
  while (platform::GetMessage(message)) {
    switch (message.message) {
      case kMsgDataReady:
        PumpData();
        break;
      case kMsgRunCommand:
        RunOneCommand();
        break;
      case kMsgQuitWorker:
        return;
      default:
        break;
    }
  }
}

void VTorvaDriverService::PumpData() {
  RunLogged(hostServices, "The data pump", [this] {
    float* block = nullptr;
    while (fmDLLTransferFloatData(&block) != 0) {
      // Set once, before any data can flow, and never changed: read without a lock.
      if (dataCallback) dataCallback(block);
    }
  });
}

std::string VTorvaDriverService::ErrorRecord() const {
  return initialised.load() ? torva::api::CurrentErrorRecord() : std::string();
}

void VTorvaDriverService::RunOneCommand() {
  Command command;
  {
    boost::lock_guard<boost::mutex> lock(queueMutex);
    if (commandQueue.empty()) return;
    command = std::move(commandQueue.front());
    commandQueue.pop_front();
    platform::PostThreadMessage(workerThreadId, kMsgRunCommand, 0, 0);
  }
  RunLogged(hostServices, "A driver command", command);
}

void VTorvaDriverService::PostCommand(Command command) {
  boost::lock_guard<boost::mutex> lock(queueMutex);
  commandQueue.push_back(std::move(command));
  platform::PostThreadMessage(workerThreadId, kMsgRunCommand, 0, 0);
}

void VTorvaDriverService::BeginDetection(DetectionCallback callback) {
  PostCommand(boost::bind(&VTorvaDriverService::DetectDevices, this, callback));
}

void VTorvaDriverService::SetRunningCallback(RunningCallback callback) {
  boost::lock_guard<boost::mutex> lock(deviceMutex);
  runningCallback = std::move(callback);
}

void VTorvaDriverService::SetDataCallback(DataCallback callback) {
  boost::lock_guard<boost::mutex> lock(deviceMutex);
  if (!dataCallback) dataCallback = std::move(callback);
}

void VTorvaDriverService::NotifyRunning(bool value, Lock& held) {
  running = value;
  // A copy taken under the lock: a host thread may replace the callback while this one runs.
  if (!held.owns_lock()) held.lock();
  const RunningCallback callback = runningCallback;
  held.unlock();
  if (callback) RunLogged(hostServices, "The running callback", [&] { callback(value); });
}

void VTorvaDriverService::ZeroPlates() {
  boost::lock_guard<boost::mutex> lock(deviceMutex);
  if (!running.load()) return;
  platform::PrescribedSleep(kBeforeDriverCall);
  fmBroadcastZero();
  Trace("::fmBroadcastZero()");
}

void VTorvaDriverService::DetectDevices(DetectionCallback callback) {
  VDllInitInfo info;
  std::vector<VDeviceInfo> devices;
  Lock lock(deviceMutex);
  InitialiseDriver(info);
  const int count = fmDLLGetDeviceCount();
  Trace("::fmDLLGetDeviceCount() -> %d", count);
  DownloadSmartPlateCalibrations(hostServices);
  for (int index = 0; index < count; ++index) devices.push_back(ReadDeviceInfo(index));
  lock.unlock();
  platform::PrescribedSleep(kBeforeResult);
  if (devices.size() > kManyDevices) platform::PrescribedSleep(kBeforeResultOfMany);
  if (callback) RunLogged(hostServices, "The detection callback", [&] { callback(info, devices); });
  NotifyRunning(false, lock);
}

void VTorvaDriverService::InitialiseDriver(VDllInitInfo& info) {
  if (initialised.load()) {
    platform::PrescribedSleep(kBeforeDriverCall);
    fmBroadcastStop();
    Trace("::fmBroadcastStop()");
    stopPending = false;
    platform::PrescribedSleep(kAfterRepeatedStop);
  }
  initialised = true;
  info.status = 1;
  driverStarted = true;
  fmDLLInit();
  Trace("::fmDLLInit()");
  platform::PrescribedSleep(kAfterInit);
  bool complete = false;
  for (int poll = 0; poll < kInitPolls && !complete; ++poll) {
    const int state = fmDLLIsDeviceInitComplete();
    Trace("::fmDLLIsDeviceInitComplete() -> %d", state);
    platform::PrescribedSleep(kBetweenInitPolls);
    complete = state != 0;
  }
  if (!complete) {
    initialised = false;
    info.status = 2;
    info.message = kTimeoutMessage;
    LogFormatted(hostServices, kSeverityWarning, "::fmDLLInit() failed");
    return;
  }
  // Read before the setup check, which may record an error of its own.
  if (const auto serial = torva::api::InUseAmplifierSerial(torva::api::CurrentErrorRecord())) {
    LogFormatted(hostServices, kSeverityWarning,
                 "Torva amplifier %s is in use by another program: its plate is left out", *serial);
  }
  info.setupCode = fmDLLSetupCheck();
  Trace("::fmDLLSetupCheck() -> %d", info.setupCode);
  info.message = SetupMessage(info.setupCode);
  if (info.setupCode == kSetupSame) info.status = 0;

  fmDLLSetUSBPacketSize(kPacketSize);
  Trace("::fmDLLSetUSBPacketSize(512)");
  fmBroadcastRunMode(kRunMode);
  Trace("::fmBroadcastRunMode(0)");
  fmDLLSetDataFormat(kDataFormat);
  Trace("::fmDLLSetDataFormat(1)");
  fmDLLPostDataReadyMessages(1);
  Trace("::fmDLLPostDataReadyMessages(1)");
  fmDLLPostUserThreadMessages(static_cast<int>(workerThreadId));
  Trace("::fmDLLPostUserThreadMessages(%d)", static_cast<int>(workerThreadId));
  fmBroadcastGenlock(kGenlock);
  Trace("::fmBroadcastGenlock(0)");
  fmBroadcastResetSoftware();
  Trace("::fmBroadcastResetSoftware()");
  platform::PrescribedSleep(kAfterSettings);
}

VTorvaDriverService::VDeviceInfo VTorvaDriverService::ReadDeviceInfo(int deviceIndex) {
  VDeviceInfo device;
  fmDLLSelectDeviceIndex(deviceIndex);
  Trace("::fmDLLSelectDeviceIndex(%d)", deviceIndex);
  device.amplifierModel = ReadDriverText(fmGetAmplifierModelNumber, kSerialFieldBytes);
  Trace("::fmGetAmplifierModelNumber() -> %s", device.amplifierModel);
  device.productType = fmGetProductType();
  Trace("::fmGetProductType() -> %d", device.productType);
  device.firmwareVersion = ReadDriverText(fmGetAmplifierFirmwareVersion, kSerialFieldBytes);
  Trace("::fmGetAmplifierFirmwareVersion() -> %s", device.firmwareVersion);
  device.amplifierSerial = ReadDriverText(fmGetAmplifierSerialNumber, kSerialFieldBytes);
  Trace("::fmGetAmplifierSerialNumber() -> %s", device.amplifierSerial);
  device.platformModel = ReadDriverText(fmGetPlatformModelNumber, kPlatformModelFieldBytes);
  Trace("::fmGetPlatformModelNumber() -> %s", device.platformModel);
  device.platformSerial = ReadDriverText(fmGetPlatformSerialNumber, kSerialFieldBytes);
  Trace("::fmGetPlatformSerialNumber() -> %s", device.platformSerial);
  if (device.productType == kOffsetsProductType) {
    float offsets[3] = {};
    fmGetPlatformXYZOffsets(offsets);
    device.xyzOffsets.assign(offsets, offsets + 3);
  }
  Trace("::fmGetPlatformXYZOffsets() -> (%f, %f, %f)", device.xyzOffsets[0], device.xyzOffsets[1],
        device.xyzOffsets[2]);
  std::array<char, kDriverTextBuffer> length{};
  std::array<char, kDriverTextBuffer> width{};
  fmGetPlatformLengthAndWidth(length.data(), width.data());
  device.platformLength.assign(length.data(), strnlen(length.data(), kDimensionFieldBytes));
  device.platformWidth.assign(width.data(), strnlen(width.data(), kDimensionFieldBytes));
  Trace("::fmGetPlatformLengthAndWidth() -> %s, %s", device.platformLength, device.platformWidth);
  device.deviceIndex = deviceIndex;
  return device;
}

void VTorvaDriverService::StartAcquisition() {
  Lock lock(deviceMutex);
  if (!initialised.load()) return;
  platform::PrescribedSleep(kBeforeDriverCall);
  fmBroadcastStart();
  Trace("::fmBroadcastStart()");
  NotifyRunning(true, lock);
}

void VTorvaDriverService::StopAcquisition() {
  Lock lock(deviceMutex);
  platform::PrescribedSleep(kBeforeDriverCall);
  fmBroadcastStop();
  Trace("::fmBroadcastStop()");
  stopPending = false;
  NotifyRunning(false, lock);
}

void VTorvaDriverService::ResetUsb() {
  Lock lock(deviceMutex);
  platform::PrescribedSleep(kBeforeDriverCall);
  fmBroadcastStop();
  Trace("::fmBroadcastStop()");
  stopPending = false;
  platform::PrescribedSleep(kBeforeDriverCall);
  fmBroadcastResetUSB();
  Trace("::fmBroadcastResetUSB()");
  platform::PrescribedSleep(kBeforeDriverCall);
  NotifyRunning(false, lock);
}

void VTorvaDriverService::SetAcquisitionRate(unsigned int rate) {
  Lock lock(deviceMutex);
  platform::PrescribedSleep(kBeforeDriverCall);
  fmBroadcastAcquisitionRate(static_cast<int>(rate));
  Trace("::fmBroadcastAcquisitionRate(%d)", rate);
}

void VTorvaDriverService::BlinkDevice(unsigned int deviceIndex) {
  Lock lock(deviceMutex);
  platform::PrescribedSleep(kBeforeDriverCall);
  fmDLLSelectDeviceIndex(static_cast<int>(deviceIndex));
  Trace("::fmDLLSelectDeviceIndex(%d)", deviceIndex);
  fmSetBlink();
  Trace("::fmSetBlink()");
  NotifyRunning(false, lock);
}

}  // namespace Torva
