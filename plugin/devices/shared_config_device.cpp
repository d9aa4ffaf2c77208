#include "plugin/devices/shared_config_device.h"

#include <boost/bind/bind.hpp>
#include <chrono>
#include <cmath>

#include "driver/api/error_record_text.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "platform/sleep_clock.h"
#include "plugin/devices/host_parameters.h"
#include "plugin/devices/model_choice.h"
#include "plugin/service/plugin_log.h"

namespace Torva {
namespace {

using SabloDigitalDevice::HostResult;
using SabloDigitalDevice::ParameterId;
using SabloDigitalDevice::ReleaseResult;

constexpr int kSeverityInfo = 1;
constexpr std::chrono::milliseconds kBeforeStart{500};
constexpr std::int32_t kSoftwareTrigger = 0;
constexpr std::int32_t kHardwareTrigger = 1;
constexpr std::int32_t kDetectionTimedOut = 2;

}  // namespace

VSharedConfigDevice::VSharedConfigDevice(SabloDigitalDevice::IHostServices* hostServices,
                                         VTorvaDriverService* driver)
    : services(hostServices),
      service(driver),
      lastRate(kDefaultSampleRate),
      lastThreshold(kDefaultDataThreshold) {}

VSharedConfigDevice::~VSharedConfigDevice() = default;

void VSharedConfigDevice::Attach(SabloDigitalDevice::IDeviceHost* deviceHost) {
  RunLogged(services, "Shared configuration device Attach", [&] { AttachTo(deviceHost); });
}

void VSharedConfigDevice::AttachTo(SabloDigitalDevice::IDeviceHost* deviceHost) {
  Lock lock(mutex);
  needsPrepare = true;
  host = deviceHost;
  if (service == nullptr) return;
  service->SetRunningCallback(boost::bind(&VSharedConfigDevice::OnRunningChanged, this,
                                          boost::placeholders::_1));
  service->SetDataCallback(boost::bind(&VSharedConfigDevice::OnData, this,
                                       boost::placeholders::_1));
  service->BeginDetection(boost::bind(&VSharedConfigDevice::OnDetected, this,
                                      boost::placeholders::_1, boost::placeholders::_2));
}

void VSharedConfigDevice::SetInstantiator(SabloDigitalDevice::IDeviceInstantiator* given) {
  Lock lock(mutex);
  instantiator = given;
}

void VSharedConfigDevice::Instantiate(VTorvaHelixDevice& device, const std::string& platformModel) {
  if (instantiated.count(&device) != 0) return;
  // Without an instantiator yet, the device waits for the next detection after one was given.
  if (instantiator == nullptr) {
    LogFormatted(services, kSeverityWarning,
                 "No instantiator yet: device %s will be instantiated at the next detection",
                 device.Name());
    return;
  }
  const VTorvaGenericPlateDefinition& chosen = device.Definition();
  HostResult* result = nullptr;
  instantiator->Instantiate(&result, chosen.maker.c_str(), chosen.model.c_str(),
                            chosen.version.c_str(), device.Name().c_str(), &device);
  instantiated.insert(&device);
  if (result != nullptr) {
    const char* text = result->Text();
    LogFormatted(services, kSeverityWarning,
                 "Host returned \"%s\" when trying to instantiate device %s",
                 text != nullptr ? text : "", platformModel);
    ReleaseResult(result);
  }
}

void VSharedConfigDevice::OnDetected(const VTorvaDriverService::VDllInitInfo& info,
                                     const std::vector<VTorvaDriverService::VDeviceInfo>& records) {
  Lock lock(mutex);
  if (info.status == kDetectionTimedOut) {
    LogFormatted(services, kSeverityError, "Unsuccessful Torva device detection loop: %s",
                 info.message);
    detectionSucceeded = false;
  } else {
    LogFormatted(services, kSeverityInfo, "Successful Torva device detection loop: %s",
                 info.message);
    detectionSucceeded = true;
  }
  rates.Reset();
  // The devices of the previous detection become the known ones; a key is looked up only among
  // devices of earlier detections.
  for (std::size_t i = 0; i < devices.size(); ++i) {
    knownDevices[deviceKeys[i]] = devices[i];
    devices[i]->SetConnected(false);
  }
  devices.clear();
  deviceKeys.clear();
  detectedCount = static_cast<std::uint32_t>(records.size());
  LogFormatted(services, kSeverityInfo, "Detected %d Torva digital devices", detectedCount);
  for (const VTorvaDriverService::VDeviceInfo& record : records) {
    if (!rates.Add(record.productType)) {
      LogFormatted(services, kSeverityWarning, "Detected unsupported device type %d, skipping...)",
                   record.productType);
      continue;
    }
    const Key key{record.amplifierModel + record.amplifierSerial,
                  record.platformModel + record.platformSerial};
    std::shared_ptr<VTorvaHelixDevice> device;
    const auto known = knownDevices.find(key);
    if (known != knownDevices.end()) {
      device = known->second;
    } else {
      const std::uint32_t rate = RequestedRate();
      device = std::make_shared<VTorvaHelixDevice>(
          services, record, PlateDefinitionForChoice(ChoosePlateModel(record)), rate, service);
      allDevices.push_back(device);
    }
    devices.push_back(device);
    deviceKeys.push_back(key);
    Instantiate(*device, record.platformModel);
    device->SetConnected(true);
    device->SetDeviceIndex(record.deviceIndex);
  }
  needsPrepare = true;
  if (host != nullptr) host->NotifyStatusChanged();
}

std::uint32_t VSharedConfigDevice::RequestedRate() {
  const std::string text = definition.SampleRate.value.GetValue();
  if (const auto rate = ParseRate(text)) return *rate;
  LogFormatted(services, kSeverityWarning, "Sample rate \"%s\" is not a rate (%s); %d applies",
               text, kBadRateMessage, lastRate);
  return lastRate;
}

double VSharedConfigDevice::RequestedThreshold() {
  const double requested = definition.DataThreshold.value.GetValue();
  double applied = requested;
  if (std::isnan(requested)) {
    applied = lastThreshold;
  } else if (requested < kLowestDataThreshold) {
    applied = kLowestDataThreshold;
  } else if (requested > kHighestDataThreshold) {
    applied = kHighestDataThreshold;
  }
  if (!(applied == requested))
    LogFormatted(services, kSeverityWarning, "Fz threshold %f adjusted to %f", requested, applied);
  lastThreshold = applied;
  return applied;
}

bool VSharedConfigDevice::PrepareCapture(SabloDigitalDevice::CaptureHandle,
                                         SabloDigitalDevice::ICaptureSetup*) {
  return RunLogged(services, "Shared configuration device PrepareCapture", false,
                   [&] { return Prepare(); });
}

bool VSharedConfigDevice::Prepare() {
  Lock lock(mutex);
  startTime = 0.0;
  needsPrepare = false;
  synchronised = false;
  startTimeSet = false;
  if (!detectionSucceeded || devices.empty()) {
    state = kStopped;
    return false;
  }
  if (host != nullptr) {
    ReadFromHost(host, definition.SampleRate);
    const std::uint32_t requested = RequestedRate();
    const std::uint32_t applied = rates.Reconcile(requested);
    if (applied != requested)
      LogFormatted(services, kSeverityWarning, "Sample rate %d adjusted to %d to match devices",
                   requested, applied);
    if (service != nullptr)
      service->PostCommand(boost::bind(&VTorvaDriverService::SetAcquisitionRate, service, applied));
    for (const auto& device : devices) device->SetRate(applied);
    currentRate = applied;
    lastRate = applied;

    ReadFromHost(host, definition.SyncMode);
    syncMode = definition.SyncMode.value.GetValue() == kHardwareTriggerOption ? kHardwareTrigger
                                                                               : kSoftwareTrigger;
    for (const auto& device : devices) device->SetSyncMode(syncMode);

    ReadFromHost(host, definition.DataThreshold);
    const double threshold = RequestedThreshold();
    for (const auto& device : devices) device->SetFzThreshold(threshold);
  }
  if (service != nullptr && !service->StopPending()) {
    service->PostCommand(boost::bind(&VTorvaDriverService::StopAcquisition, service));
    service->SetStopPending(true);
  }
  state = kStartRequested;
  torva::platform::PrescribedSleep(kBeforeStart);
  if (service != nullptr)
    service->PostCommand(boost::bind(&VTorvaDriverService::StartAcquisition, service));
  return true;
}

void VSharedConfigDevice::SetStartTime(double time) {
  RunLogged(services, "Shared configuration device SetStartTime", [&] { StoreStartTime(time); });
}

void VSharedConfigDevice::StoreStartTime(double time) {
  Lock lock(mutex);
  if (syncMode != kSoftwareTrigger) return;
  startTimeSet = true;
  startTime = time;
}

void VSharedConfigDevice::OnCaptureStopped() {
  RunLogged(services, "Shared configuration device OnCaptureStopped", [&] { StopCapture(); });
}

void VSharedConfigDevice::StopCapture() {
  Lock lock(mutex);
  wasRunning = false;
  SetState(kStopped);
}

void VSharedConfigDevice::GetStatus(std::int32_t* stateOut, bool* needsPrepareOut) {
  RunLogged(services, "Shared configuration device GetStatus",
            [&] { ReportStatus(stateOut, needsPrepareOut); });
}

void VSharedConfigDevice::ReportStatus(std::int32_t* stateOut, bool* needsPrepareOut) {
  Lock lock(mutex);
  TakeAmplifierLoss();
  if (stateOut != nullptr) *stateOut = state;
  if (needsPrepareOut != nullptr) *needsPrepareOut = needsPrepare;
}

void VSharedConfigDevice::TakeAmplifierLoss() {
  if (service == nullptr) return;
  std::string record = service->ErrorRecord();
  if (record == errorRecordSeen) return;
  errorRecordSeen = std::move(record);
  const auto serial = torva::api::LostAmplifierSerial(errorRecordSeen);
  if (!serial) return;
  for (const auto& device : devices) {
    if (device->AmplifierSerial() != *serial || !device->Connected()) continue;
    device->SetConnected(false);
    LogFormatted(services, kSeverityError,
                 "Torva amplifier %s was disconnected: plate %s delivers no more data", *serial,
                 device->Name());
  }
}

void VSharedConfigDevice::SetState(std::int32_t value) {
  state = value;
  for (const auto& device : devices) device->SetStatus(value);
}

void VSharedConfigDevice::OnRunningChanged(bool running) {
  Lock lock(mutex);
  if (!running) {
    if (wasRunning) needsPrepare = true;
    if (state != kStartRequested) SetState(kStopped);
    wasRunning = false;
  } else {
    SetState(kRunning);
    wasRunning = true;
  }
  if (host != nullptr) host->NotifyStatusChanged();
}

void VSharedConfigDevice::OnParametersChanged() {
  RunLogged(services, "Shared configuration device OnParametersChanged",
            [&] { TakeParameterChanges(); });
}

void VSharedConfigDevice::TakeParameterChanges() {
  Lock lock(mutex);
  if (host == nullptr) return;
  const std::vector<ParameterId> changed = TakeChangedParameters(host, changeKey);
  if (service == nullptr) return;
  for (const ParameterId& id : changed) {
    if (id.high != 0) continue;
    switch (id.low) {
      case SharedConfigParameterId::kSampleRate:
      case SharedConfigParameterId::kSyncMode:
      case SharedConfigParameterId::kDataThreshold:
        // The new value takes effect at the next PrepareCapture.
        if (!service->StopPending()) {
          service->PostCommand(boost::bind(&VTorvaDriverService::StopAcquisition, service));
          service->SetStopPending(true);
        }
        break;
      case SharedConfigParameterId::kBroadcastResetUSB:
        service->PostCommand(boost::bind(&VTorvaDriverService::ResetUsb, service));
        break;
      case SharedConfigParameterId::kBroadcastZero:
        service->ZeroPlates();
        break;
      case SharedConfigParameterId::kScanForHardware:
        service->BeginDetection(boost::bind(&VSharedConfigDevice::OnDetected, this,
                                            boost::placeholders::_1, boost::placeholders::_2));
        break;
      default:
        break;
    }
  }
}

bool VSharedConfigDevice::Synchronise(const float* block) {
  // Frame 0 is fixed only once the start this PrepareCapture asked for is running: blocks of the
  // run being stopped would fix it on counters the new run does not continue.
  if (state != kRunning) return false;
  const int stride = static_cast<int>(detectedCount);
  const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, stride};
  std::int64_t start = 0;
  if (syncMode == kHardwareTrigger) {
    bool found = false;
    for (std::uint32_t i = 0; i < detectedCount; ++i) {
      const auto level = rates.TriggerLevel(i);
      if (!level) continue;
      const int record = static_cast<int>(i);
      for (int row = 0; row < static_cast<int>(kBlockSamples); ++row) {
        if (block[torva_frame_auxiliary(layout, row, record)] != static_cast<float>(*level))
          continue;
        start = static_cast<std::int64_t>(block[torva_frame_counter(layout, row, record)]);
        found = true;
        break;
      }
    }
    if (!found) return false;
  } else {
    if (!startTimeSet) return false;
    const double now = services != nullptr ? services->CurrentTime() : startTime;
    const auto elapsed = static_cast<std::int64_t>((now - startTime) * currentRate);
    start = FirstCounter(block, stride, 0) - elapsed;
  }
  for (const auto& device : devices) device->SetStartCounter(start);
  synchronised = true;
  return true;
}

void VSharedConfigDevice::OnData(const float* block) {
  Lock lock(mutex);
  if (block == nullptr) {
    LogFormatted(services, kSeverityWarning, "Transfer data called with null pointer");
    return;
  }
  if (!synchronised && !Synchronise(block)) return;
  for (const auto& device : devices) device->ProcessBlock(block, static_cast<int>(detectedCount));
}

std::vector<std::shared_ptr<VTorvaHelixDevice>> VSharedConfigDevice::Devices() const {
  Lock lock(mutex);
  return devices;
}

}  // namespace Torva
