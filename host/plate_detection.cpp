#include "host/plate_detection.h"

#include <algorithm>

#include "plugin/devices/parameter_value.h"
#include "plugin/frame/plugin_exports.h"
#include "tools/signals/termination_request.h"

namespace torva::host {

namespace {

constexpr const char* kSuccessfulDetection = "Successful Torva device detection loop";
constexpr const char* kUnsuccessfulDetection = "Unsuccessful Torva device detection loop";

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// The outcome the plugin logged for the detection, if it has logged one since line `from`.
std::optional<bool> LoggedDetection(const HostServices& services, std::size_t from) {
  const std::vector<LogLine> lines = services.Lines();
  for (std::size_t index = from; index < lines.size(); ++index) {
    const LogLine& line = lines[index];
    if (StartsWith(line.text, kUnsuccessfulDetection)) return false;
    if (StartsWith(line.text, kSuccessfulDetection)) return true;
  }
  return std::nullopt;
}

// Waits until the plugin has logged the outcome of a detection (after log line `from`) and ended
// its handling, then lists the plates.
Detection AwaitDetection(PluginSession& session, DeviceInstance& shared, std::size_t from,
                         std::chrono::steady_clock::time_point deadline) {
  Detection detection;
  detection.shared = &shared;
  // The plugin logs the outcome, instantiates the plates, then notifies; other notifications
  // (the running state) may come before it.
  std::optional<bool> succeeded;
  while (!(succeeded = LoggedDetection(session.Services(), from))) {
    if (tools::TerminationSignal() != 0) {
      detection.outcome = DetectionOutcome::kInterrupted;
      return detection;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      if (!(succeeded = LoggedDetection(session.Services(), from))) return detection;
      break;
    }
    shared.Host().WaitForStatusChange(std::min(left, tools::kTerminationPollInterval));
  }
  // The outcome is logged first, then the plates are instantiated, all under the shared device's
  // lock, which its GetStatus takes too: once GetStatus returns, the detection has ended.
  shared.ReadStatus();
  for (const std::string& name : session.Instantiator().InstanceNames()) {
    if (name == Torva::kSharedInstanceName) continue;
    if (DeviceInstance* plate = session.Instantiator().Find(name))
      detection.plates.push_back(plate);
  }
  if (!*succeeded) {
    detection.outcome = DetectionOutcome::kFailed;
  } else {
    detection.outcome =
        detection.plates.empty() ? DetectionOutcome::kNoPlates : DetectionOutcome::kPlatesFound;
  }
  return detection;
}

}  // namespace

Detection DetectPlates(PluginSession& session, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::size_t from = session.Services().Lines().size();
  session.InstantiateSharedDevice();
  DeviceInstance* shared = session.Instantiator().Find(Torva::kSharedInstanceName);
  if (shared == nullptr) {
    Detection detection;
    detection.outcome = DetectionOutcome::kNoSharedDevice;
    return detection;
  }
  return AwaitDetection(session, *shared, from, deadline);
}

Detection Rescan(PluginSession& session, DeviceInstance& shared, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::size_t from = session.Services().Lines().size();
  SabloDigitalDevice::IParameterValueAction action;
  if (shared.Host().SetByHost("ScanForHardware", action)) {
    Detection detection;
    detection.shared = &shared;
    detection.outcome = DetectionOutcome::kFailed;
    return detection;
  }
  shared.Device().OnParametersChanged();
  return AwaitDetection(session, shared, from, deadline);
}

bool IsConnected(DeviceInstance& plate) {
  SabloDigitalDevice::IParameterValueBool connected;
  return !plate.Host().ReadByHost("Connected", connected) && connected.GetValue();
}

}  // namespace torva::host
