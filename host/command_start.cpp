#include "host/command_start.h"

#include <cstdio>

#include "host/exit_status.h"
#include "host/plugin_loader.h"
#include "tools/signals/termination_request.h"

namespace torva::host {

void Say(const std::string& text) { std::fprintf(stderr, "torva-host: %s\n", text.c_str()); }

std::string NumberText(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", number);
  return text;
}

std::chrono::milliseconds Milliseconds(double seconds) {
  constexpr double kMillisecondsPerSecond = 1000.0;
  return std::chrono::milliseconds(static_cast<long long>(seconds * kMillisecondsPerSecond));
}

std::unique_ptr<PluginSession> StartSession(const CommonOptions& options, HostLog& log,
                                            FrameSink& sink) {
  std::string failure;
  auto library = PluginLibrary::Load(
      options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath, failure);
  if (!library) {
    Say(failure);
    return nullptr;
  }
  auto session = std::make_unique<PluginSession>(std::move(library), log, sink);
  if (!session->Start()) {
    Say("the plugin refused to initialise");
    return nullptr;
  }
  return session;
}

int DetectionStatus(const Detection& detection, double limitSeconds) {
  switch (detection.outcome) {
    case DetectionOutcome::kPlatesFound:
      return kExitSuccess;
    case DetectionOutcome::kNoPlates:
      Say("no plates detected");
      return kExitNoPlates;
    case DetectionOutcome::kFailed:
      Say("the detection failed");
      return kExitDetectionFailed;
    case DetectionOutcome::kTimedOut:
      Say("the detection did not end within " + NumberText(limitSeconds) + " s");
      return kExitDetectionFailed;
    case DetectionOutcome::kNoSharedDevice:
      Say("the plugin did not instantiate its shared-configuration device");
      return kExitDetectionFailed;
    case DetectionOutcome::kInterrupted: {
      const int signal = tools::TerminationSignal();
      Say(std::string("interrupted by ") + tools::TerminationSignalName(signal) +
          " during the detection");
      return tools::TerminationStatus(signal);
    }
  }
  return kExitDetectionFailed;
}

}  // namespace torva::host
