#include "plugin/devices/helix_device.h"

#include <boost/bind/bind.hpp>
#include <limits>
#include <vector>

#include "plugin/devices/host_parameters.h"
#include "plugin/service/plugin_log.h"

namespace Torva {
namespace {

using SabloDigitalDevice::HostResult;
using SabloDigitalDevice::ParameterId;
using SabloDigitalDevice::ReleaseResult;

// Inches to metres, in single precision.
constexpr float kMetresPerInch = 0.0254f;
constexpr std::int64_t kCounterWrap = std::int64_t{1} << 24;
constexpr std::int32_t kStatusAtConstruction = 1;
constexpr std::int32_t kStatusStartRequested = 0;
constexpr std::int32_t kHardwareTrigger = 1;
constexpr std::uint32_t kSamplesPerBlock = 16;
constexpr int kCaptureOption = 2;
constexpr double kSyncTimeoutPerTick = 1.5;
constexpr const char* kSyncInputName = "Sync Port";
constexpr const char* kConnectedName = "Connected";
constexpr int kSeverityInfo = 1;

// The sync input's time-out, in ticks: 1.5 sample periods. A clock so fast that this exceeds 32
// bits gets the longest time-out there is; converting the larger double would be undefined.
std::uint32_t SyncTimeout(std::uint64_t ticksPerSample) {
  constexpr std::uint32_t kLongest = std::numeric_limits<std::uint32_t>::max();
  const double timeout = static_cast<double>(ticksPerSample) * kSyncTimeoutPerTick;
  return timeout < static_cast<double>(kLongest) ? static_cast<std::uint32_t>(timeout) : kLongest;
}

}  // namespace

VTorvaHelixDevice::VTorvaHelixDevice(SabloDigitalDevice::IHostServices* hostServices,
                                     const VTorvaDriverService::VDeviceInfo& info,
                                     const VTorvaGenericPlateDefinition& chosen,
                                     std::uint32_t initialRate, VTorvaDriverService* driver)
    : service(driver), services(hostServices), definition(chosen) {
  amplifierModel = info.amplifierModel;
  amplifierSerial = info.amplifierSerial;
  platformModel = info.platformModel;
  platformSerial = info.platformSerial;
  firmwareVersion = info.firmwareVersion;
  deviceIndex = info.deviceIndex;
  rate = initialRate;
  definition.AmplifierModel.value.SetValue(amplifierModel);
  definition.AmplifierSerial.value.SetValue(amplifierSerial);
  definition.PlatformModel.value.SetValue(platformModel);
  definition.PlatformSerial.value.SetValue(platformSerial);
  definition.FirmwareVersion.value.SetValue(firmwareVersion);
  const float x = (info.xyzOffsets.size() > 0 ? info.xyzOffsets[0] : 0.0f) * kMetresPerInch;
  const float y = (info.xyzOffsets.size() > 1 ? info.xyzOffsets[1] : 0.0f) * kMetresPerInch;
  const float z = -(info.xyzOffsets.size() > 2 ? info.xyzOffsets[2] : 0.0f) * kMetresPerInch;
  // The sensor-to-origin offsets the centre of pressure uses, and the origin the host shows.
  originOffsets = {x, y, z};
  definition.ParameterA.value.SetValue(-static_cast<double>(x));
  definition.ParameterB.value.SetValue(static_cast<double>(y));
  definition.ParameterAZ0.value.SetValue(-static_cast<double>(z));
  name = definition.AmplifierSerial.value.GetValue() + definition.PlatformSerial.value.GetValue();
  status = kStatusAtConstruction;
  LogFormatted(services, kSeverityInfo, "Instantiating device %d: %s %s %s %s", deviceIndex,
               amplifierModel, amplifierSerial, platformModel, platformSerial);
}

VTorvaHelixDevice::~VTorvaHelixDevice() = default;

void VTorvaHelixDevice::Attach(SabloDigitalDevice::IDeviceHost* deviceHost) {
  RunLogged(services, "Plate device Attach", [&] { AttachTo(deviceHost); });
}

void VTorvaHelixDevice::AttachTo(SabloDigitalDevice::IDeviceHost* deviceHost) {
  Lock lock(mutex);
  host = deviceHost;
  if (host == nullptr) return;
  PublishToHost(host, definition.AmplifierSerial);
  PublishToHost(host, definition.AmplifierModel);
  PublishToHost(host, definition.PlatformModel);
  PublishToHost(host, definition.PlatformSerial);
  PublishToHost(host, definition.FirmwareVersion);
  PublishToHost(host, definition.ParameterA);
  PublishToHost(host, definition.ParameterB);
  PublishToHost(host, definition.ParameterAZ0);
  HostResult* result = nullptr;
  host->GetParameter(&result, &connected, kConnectedName, "");
  ReleaseResult(result);
  connected.SetValue(true);
  PublishConnected();
}

void VTorvaHelixDevice::PublishConnected() {
  if (host == nullptr) return;
  HostResult* result = nullptr;
  host->SetParameter(&result, &connected, kConnectedName, "");
  ReleaseResult(result);
}

void VTorvaHelixDevice::SetConnected(bool value) {
  Lock lock(mutex);
  connected.SetValue(value);
  PublishConnected();
}

bool VTorvaHelixDevice::Connected() const {
  Lock lock(mutex);
  return connected.GetValue();
}

void VTorvaHelixDevice::OnParametersChanged() {
  RunLogged(services, "Plate device OnParametersChanged", [&] { TakeParameterChanges(); });
}

void VTorvaHelixDevice::TakeParameterChanges() {
  Lock lock(mutex);
  if (host == nullptr) return;
  for (const ParameterId& id : TakeChangedParameters(host, changeKey)) {
    if (id.low != PlateParameterId::kBlinkAction || id.high != 0) continue;
    // A plate not found by the last detection has no amplifier at its old index to blink.
    if (!connected.GetValue()) {
      LogFormatted(services, kSeverityWarning, "Device %s is not connected: blink ignored", name);
      continue;
    }
    if (service != nullptr)
      service->PostCommand(
          boost::bind(&VTorvaDriverService::BlinkDevice, service, static_cast<unsigned>(deviceIndex)));
  }
}

bool VTorvaHelixDevice::PrepareCapture(SabloDigitalDevice::CaptureHandle captureHandle,
                                       SabloDigitalDevice::ICaptureSetup* setup) {
  return RunLogged(services, "Plate device PrepareCapture", false,
                   [&] { return Prepare(captureHandle, setup); });
}

bool VTorvaHelixDevice::Prepare(SabloDigitalDevice::CaptureHandle captureHandle,
                                SabloDigitalDevice::ICaptureSetup* setup) {
  Lock lock(mutex);
  handle = captureHandle;
  status = kStatusStartRequested;
  wrapOffset = 0;
  previousCounter = 0;
  counterKnown = false;
  if (!connected.GetValue() || setup == nullptr) return false;
  HostResult* result = nullptr;
  setup->SetSamplesPerBlock(&result, kSamplesPerBlock);
  ReleaseResult(result);
  if (rate == 0) return false;
  const std::uint64_t clockRate = services != nullptr ? services->ClockRate() : 0;
  std::uint64_t ticks = clockRate / rate;
  setup->SetTicksPerSample(&result, ticks);
  ReleaseResult(result);
  setup->SetCaptureOption(kCaptureOption);
  if (syncMode.load() == kHardwareTrigger) {
    if (ticks == 0) ticks = 1;
    const std::uint32_t timeout = SyncTimeout(ticks);
    setup->ConfigureSyncInput(&result, kSyncInputName, 1, timeout, 0, 0, 1);
    ReleaseResult(result);
  }
  return true;
}

void VTorvaHelixDevice::GetStatus(std::int32_t* state, bool* needsPrepare) {
  RunLogged(services, "Plate device GetStatus", [&] { ReportStatus(state, needsPrepare); });
}

void VTorvaHelixDevice::ReportStatus(std::int32_t* state, bool* needsPrepare) const {
  Lock lock(mutex);
  if (state != nullptr) *state = status;
  if (needsPrepare != nullptr) *needsPrepare = false;
}

void VTorvaHelixDevice::ProcessBlock(const float* frame, int stride) {
  Lock lock(mutex);
  if (host == nullptr || frame == nullptr) return;
  ConvertPlateBlock(frame, stride, deviceIndex, originOffsets, threshold.load(), output);
  const std::int64_t counter = FirstCounter(frame, stride, deviceIndex);
  if (counterKnown && counter <= previousCounter) wrapOffset += kCounterWrap;
  counterKnown = true;
  previousCounter = counter;
  // 64-bit arithmetic that wraps rather than overflows.
  const auto frameNumber = static_cast<std::int64_t>(static_cast<std::uint64_t>(wrapOffset) -
                                                     static_cast<std::uint64_t>(startCounter.load()) +
                                                     static_cast<std::uint64_t>(counter));
  HostResult* result = nullptr;
  host->PushFrames(&result, handle, frameNumber, kBlockSamples, outputIds.data(),
                   static_cast<std::uint32_t>(outputIds.size()), output.data(),
                   static_cast<std::uint32_t>(output.size()));
  ReleaseResult(result);
}

void VTorvaHelixDevice::SetDeviceIndex(std::int32_t index) {
  Lock lock(mutex);
  deviceIndex = index;
}

std::int32_t VTorvaHelixDevice::DeviceIndex() const {
  Lock lock(mutex);
  return deviceIndex;
}

void VTorvaHelixDevice::SetRate(std::uint32_t newRate) {
  Lock lock(mutex);
  rate = newRate;
}

void VTorvaHelixDevice::SetStatus(std::int32_t newStatus) {
  Lock lock(mutex);
  status = newStatus;
}

}  // namespace Torva
