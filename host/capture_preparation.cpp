#include "host/capture_preparation.h"

#include <cstdio>

#include "host/command_start.h"
#include "host/device_definition.h"
#include "host/exit_status.h"
#include "host/host_services.h"
#include "plugin/devices/parameter_value.h"

namespace torva::host {

namespace {

namespace SDD = SabloDigitalDevice;
using Clock = std::chrono::steady_clock;

// The shared device's state while acquisition runs.
constexpr std::int32_t kStateRunning = 1;

// Writes rate, sync mode and threshold into the shared device's parameters, each starting from
// the stored setting so that options and limits stay as declared. Nothing when all were taken.
Refusal WriteSettings(DeviceHost& shared, const AcquisitionChoice& choice) {
  SDD::IParameterValueEnum rate;
  if (auto refusal = shared.ReadByHost("SampleRate", rate)) return refusal;
  rate.SetValue(choice.rate);
  if (auto refusal = shared.SetByHost("SampleRate", rate)) return refusal;

  SDD::IParameterValueEnum sync;
  if (auto refusal = shared.ReadByHost("SyncMode", sync)) return refusal;
  sync.SetValue(SyncModeName(choice.sync));
  if (auto refusal = shared.SetByHost("SyncMode", sync)) return refusal;

  SDD::IParameterValueDouble threshold;
  if (auto refusal = shared.ReadByHost("DataThreshold", threshold)) return refusal;
  if (threshold.GetRangeCheck() &&
      (choice.threshold < threshold.GetMinimum() || choice.threshold > threshold.GetMaximum())) {
    return "--threshold " + NumberText(choice.threshold) + " is outside " +
           NumberText(threshold.GetMinimum()) + " .. " + NumberText(threshold.GetMaximum());
  }
  threshold.SetValue(choice.threshold);
  return shared.SetByHost("DataThreshold", threshold);
}

// Presses the action parameter `name` of `device`; false, having said why, when it was refused.
bool PressAction(DeviceInstance& device, const char* name, const std::string& what) {
  SDD::IParameterValueAction action;
  if (auto refusal = device.Host().SetByHost(name, action)) {
    Say(what + " was not taken: " + *refusal);
    return false;
  }
  device.Device().OnParametersChanged();
  return true;
}

}  // namespace

const char* SyncModeName(SyncChoice sync) {
  return sync == SyncChoice::kHardware ? "Hardware trigger" : "Software trigger";
}

int PrepareCapture(DeviceInstance& shared, const std::vector<DeviceInstance*>& detected,
                   const AcquisitionChoice& choice, PreparedCapture& prepared) {
  prepared = PreparedCapture();
  for (DeviceInstance* plate : detected) {
    const auto& definition = plate->Definition();
    const std::string identity =
        DefinitionIdentity(definition.maker, definition.name, definition.version);
    const bool connected = IsConnected(*plate);
    std::fprintf(stderr, "plate %s: %s%s\n", plate->Name().c_str(), identity.c_str(),
                 connected ? "" : " (not connected)");
    if (!connected) continue;
    prepared.plates.push_back(plate);
    prepared.columns.push_back({plate->Name(), identity});
  }
  if (auto refusal = WriteSettings(shared.Host(), choice)) {
    Say(*refusal);
    return kExitUsageOrLoading;
  }
  shared.Device().OnParametersChanged();

  prepared.handles.resize(prepared.plates.size() + 1);
  if (!shared.PrepareCapture(&prepared.handles[0]).accepted) {
    Say("the shared-configuration device refused the capture");
    return kExitDetectionFailed;
  }
  for (std::size_t index = 0; index < prepared.plates.size(); ++index) {
    DeviceInstance& plate = *prepared.plates[index];
    const CaptureOutcome outcome = plate.PrepareCapture(&prepared.handles[index + 1]);
    if (!outcome.accepted) Say("plate " + plate.Name() + " refused the capture");
    if (prepared.ticks == 0 && outcome.settings.ticksPerSample)
      prepared.ticks = *outcome.settings.ticksPerSample;
  }
  if (prepared.ticks == 0) {
    Say("no plate set its ticks per sample");
    shared.Device().OnCaptureStopped();
    return kExitDetectionFailed;
  }
  prepared.rate =
      static_cast<double>(HostServices::kClockRate) / static_cast<double>(prepared.ticks);
  return kExitSuccess;
}

void StartCapture(PluginSession& session, DeviceInstance& shared,
                  const std::vector<DeviceInstance*>& detected) {
  const double startTime = session.Services().CurrentTime();
  shared.Device().SetStartTime(startTime);
  for (DeviceInstance* plate : detected) plate->Device().SetStartTime(startTime);
}

void StopCapture(DeviceInstance& shared, const std::vector<DeviceInstance*>& detected) {
  shared.Device().OnCaptureStopped();
  for (DeviceInstance* plate : detected) plate->Device().OnCaptureStopped();
}

bool WaitForRunning(DeviceInstance& shared, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (shared.ReadStatus().state != kStateRunning) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    shared.Host().WaitForStatusChange(left);
  }
  return true;
}

bool BroadcastZero(DeviceInstance& shared) {
  return PressAction(shared, "BroadcastZero", "the zero");
}

bool Blink(DeviceInstance& plate) {
  return PressAction(plate, "BlinkAction", "the blink of plate " + plate.Name());
}

}  // namespace torva::host
