#include "host/capture_session.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/capture_frame_sink.h"
#include "host/capture_recorder.h"
#include "host/capture_plot.h"
#include "host/capture_summary.h"
#include "host/command_start.h"
#include "host/csv_frames.h"
#include "host/exit_status.h"
#include "host/plate_detection.h"
#include "host/plate_placement.h"
#include "host/plugin_session.h"
#include "plugin/devices/parameter_value.h"
#include "tools/signals/termination_request.h"

namespace torva::host {

namespace {

namespace SDD = SabloDigitalDevice;
using Clock = std::chrono::steady_clock;

// The shared device's state while acquisition runs.
constexpr std::int32_t kStateRunning = 1;

// Writes rate, sync mode and threshold into the shared device's parameters, each starting from
// the stored setting so that options and limits stay as declared. Nothing when all were taken.
Refusal WriteSettings(DeviceHost& shared, const CaptureOptions& options) {
  SDD::IParameterValueEnum rate;
  if (auto refusal = shared.ReadByHost("SampleRate", rate)) return refusal;
  rate.SetValue(options.rate);
  if (auto refusal = shared.SetByHost("SampleRate", rate)) return refusal;

  SDD::IParameterValueEnum sync;
  if (auto refusal = shared.ReadByHost("SyncMode", sync)) return refusal;
  sync.SetValue(options.sync == SyncChoice::kHardware ? "Hardware trigger" : "Software trigger");
  if (auto refusal = shared.SetByHost("SyncMode", sync)) return refusal;

  SDD::IParameterValueDouble threshold;
  if (auto refusal = shared.ReadByHost("DataThreshold", threshold)) return refusal;
  if (threshold.GetRangeCheck() &&
      (options.threshold < threshold.GetMinimum() || options.threshold > threshold.GetMaximum())) {
    return "--threshold " + NumberText(options.threshold) + " is outside " +
           NumberText(threshold.GetMinimum()) + " .. " + NumberText(threshold.GetMaximum());
  }
  threshold.SetValue(options.threshold);
  return shared.SetByHost("DataThreshold", threshold);
}

// Waits until the shared device reports acquisition running; false when it did not within limit.
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

// After a stall: the plates the plugin no longer reports connected (it learns of a lost amplifier
// when asked for its status), as "; plate X is no longer connected"; "" when all still are.
std::string LostPlatesText(DeviceInstance& shared, const std::vector<DeviceInstance*>& plates) {
  shared.ReadStatus();
  std::string text;
  for (DeviceInstance* plate : plates)
    if (!IsConnected(*plate)) text += "; plate " + plate->Name() + " is no longer connected";
  return text;
}

// Zeroes every plate through the shared device's action, as a user pressing it would.
void BroadcastZero(DeviceInstance& shared) {
  SDD::IParameterValueAction action;
  if (auto refusal = shared.Host().SetByHost("BroadcastZero", action)) {
    Say("the zero was not taken: " + *refusal);
    return;
  }
  shared.Device().OnParametersChanged();
}

}  // namespace

int RunCapture(const CaptureOptions& options, HostLog& log, const CaptureOutputs& outputs) {
  std::optional<analysis::LabLayout> layout;
  if (!ReadLayoutOption(options.layoutPath, layout)) return kExitUsageOrLoading;
  CaptureFrameSink sink;
  const std::unique_ptr<PluginSession> session = StartSession(options.common, log, sink);
  if (!session) return kExitUsageOrLoading;
  const Detection detection =
      DetectPlates(*session, Milliseconds(options.common.detectTimeoutSeconds));
  if (const int status = DetectionStatus(detection, options.common.detectTimeoutSeconds))
    return status;
  DeviceInstance& shared = *detection.shared;

  std::vector<DeviceInstance*> plates;
  std::vector<CsvPlate> columns;
  for (DeviceInstance* plate : detection.plates) {
    const auto& definition = plate->Definition();
    const bool connected = IsConnected(*plate);
    std::fprintf(stderr, "plate %s: %s%s\n", plate->Name().c_str(),
                 DefinitionIdentity(definition.maker, definition.name, definition.version).c_str(),
                 connected ? "" : " (not connected)");
    if (!connected) continue;
    plates.push_back(plate);
    columns.push_back(
        {plate->Name(), DefinitionIdentity(definition.maker, definition.name, definition.version)});
  }
  const PlatesInLab lab = PlacePlates(layout, plates);
  const std::vector<std::string>& names = lab.names;

  if (auto refusal = WriteSettings(shared.Host(), options)) {
    Say(*refusal);
    return kExitUsageOrLoading;
  }
  shared.Device().OnParametersChanged();

  // A handle of its own for every device, stable while the capture runs.
  std::vector<int> handles(plates.size() + 1);
  if (!shared.PrepareCapture(&handles[0]).accepted) {
    Say("the shared-configuration device refused the capture");
    return kExitDetectionFailed;
  }
  std::uint64_t ticks = 0;
  for (std::size_t index = 0; index < plates.size(); ++index) {
    const CaptureOutcome outcome = plates[index]->PrepareCapture(&handles[index + 1]);
    if (!outcome.accepted) Say("plate " + plates[index]->Name() + " refused the capture");
    if (ticks == 0 && outcome.settings.ticksPerSample) ticks = *outcome.settings.ticksPerSample;
  }
  if (ticks == 0) {
    Say("no plate set its ticks per sample");
    shared.Device().OnCaptureStopped();
    return kExitDetectionFailed;
  }
  const double rate = static_cast<double>(HostServices::kClockRate) / static_cast<double>(ticks);
  CaptureWriters writers(outputs, lab, columns,
                         {session->PluginPath(), options.rate, rate, ticks,
                          HostServices::kClockRate, LayoutLines(lab)},
                         options.sync == SyncChoice::kHardware ? "Hardware trigger"
                                                               : "Software trigger");
  if (!writers.Problem().empty()) {
    Say("cannot write " + options.c3dPath + " as C3D: " + writers.Problem());
    shared.Device().OnCaptureStopped();
    return kExitUsageOrLoading;
  }
  CaptureSummary summary(names);

  if (!options.zero) sink.SetRecording(true);
  const double startTime = session->Services().CurrentTime();
  shared.Device().SetStartTime(startTime);
  for (DeviceInstance* plate : detection.plates) plate->Device().SetStartTime(startTime);

  int status = kExitSuccess;
  if (options.zero) {
    if (WaitForRunning(shared, kFirstBlockLimit)) {
      BroadcastZero(shared);
      sink.SetRecording(true);
    } else {
      Say(StallMessage(std::chrono::duration<double>(kFirstBlockLimit).count()));
      status = kExitStalled;
    }
  }
  if (status == kExitSuccess) {
    RecordingLimits limits{options.seconds, options.stallSeconds,
                           options.sync == SyncChoice::kHardware};
    limits.endNow = [&]() -> std::optional<int> {
      if (writers.AnyFailed() || log.FileFailure()) return kExitOutputFailed;
      if (const int signal = tools::TerminationSignal()) return tools::TerminationStatus(signal);
      return std::nullopt;
    };
    RecordingOutcome outcome = Record(sink, writers.Rows(), summary, limits);
    if (outcome.status == kExitStalled) outcome.message += LostPlatesText(shared, plates);
    if (const int signal = tools::TerminationSignal()) {
      Say(std::string("interrupted by ") + tools::TerminationSignalName(signal) +
          ": the capture ends here");
    }
    if (!outcome.message.empty()) Say(outcome.message);
    status = outcome.status;
  }

  sink.SetRecording(false);
  shared.Device().OnCaptureStopped();
  for (DeviceInstance* plate : detection.plates) plate->Device().OnCaptureStopped();
  if (!writers.Finish(options.outputPath.empty())) status = kExitOutputFailed;
  if (log.FileFailure()) status = kExitOutputFailed;  // said once the log is closed
  if (writers.CsvKept() && !options.plotPath.empty()) {
    const PlotOutcome plot = DrawCapturePlot(options.outputPath, options.plotPath, names);
    if (!plot.drawn) Say(plot.message);
  }
  std::fputs(summary.Report(log.Warnings(), log.Errors()).c_str(), stderr);
  return status;
}

}  // namespace torva::host
