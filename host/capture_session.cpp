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
#include "host/capture_preparation.h"
#include "host/capture_summary.h"
#include "host/command_start.h"
#include "host/csv_frames.h"
#include "host/exit_status.h"
#include "host/plate_detection.h"
#include "host/plate_placement.h"
#include "host/plugin_session.h"
#include "tools/signals/termination_request.h"

namespace torva::host {

namespace {

// After a stall: the plates the plugin no longer reports connected (it learns of a lost amplifier
// when asked for its status), as "; plate X is no longer connected"; "" when all still are.
std::string LostPlatesText(DeviceInstance& shared, const std::vector<DeviceInstance*>& plates) {
  shared.ReadStatus();
  std::string text;
  for (DeviceInstance* plate : plates)
    if (!IsConnected(*plate)) text += "; plate " + plate->Name() + " is no longer connected";
  return text;
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

  PreparedCapture prepared;
  if (const int status =
          PrepareCapture(shared, detection.plates, {options.rate, options.sync, options.threshold},
                         prepared)) {
    return status;
  }
  const std::vector<DeviceInstance*>& plates = prepared.plates;
  const PlatesInLab lab = PlacePlates(layout, plates);
  const std::vector<std::string>& names = lab.names;
  CaptureWriters writers(outputs, lab, prepared.columns,
                         {session->PluginPath(), options.rate, prepared.rate, prepared.ticks,
                          HostServices::kClockRate, LayoutLines(lab)},
                         SyncModeName(options.sync));
  if (!writers.Problem().empty()) {
    Say("cannot write " + options.c3dPath + " as C3D: " + writers.Problem());
    shared.Device().OnCaptureStopped();
    return kExitUsageOrLoading;
  }
  CaptureSummary summary(names);

  if (!options.zero) sink.SetRecording(true);
  StartCapture(*session, shared, detection.plates);

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
  StopCapture(shared, detection.plates);
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
