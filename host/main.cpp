// torva-host: a stand-in motion-capture host that loads the plugin at run time and drives it as a
// host does.
//   torva-host capture [--seconds S] [--rate R] [--sync software|hardware] [--threshold N] [--zero]
//                      [--output FILE] [--log FILE] [--verbose] [--plugin PATH]
//                      [--detect-timeout S] [--stall S]
//   torva-host live [--port P] [--listen ADDRESS] [--trials DIR] [--layout FILE] [--rate R]
//                   [--sync software|hardware] [--threshold N] [common options]
//   torva-host detect [common options]
//   torva-host definitions [common options]
// Exit status: 0 success, 1 usage, loading or output failure, 2 no plates, 3 detection failed,
// 4 stalled, 128 + N ended by signal N (SIGINT, SIGTERM).

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/capture_session.h"
#include "host/exit_status.h"
#include "host/host_log.h"
#include "host/host_options.h"
#include "host/host_reports.h"
#include "host/live/live_session.h"
#include "host/output_file.h"
#include "tools/signals/termination_request.h"

namespace {

using namespace torva::host;

void PrintUsage(std::FILE* stream) {
  std::fprintf(stream,
               "Usage: torva-host <command> [options]\n\ncommands:\n"
               "  capture      detect the plates and record them to CSV\n"
               "  live         watch the plates in a browser and record trials from there\n"
               "  detect       detect the plates and list every instance\n"
               "  definitions  list the device definitions the plugin declares\n\n"
               "Run 'torva-host <command> --help' for a command's options.\n");
}

// The log, with its file opened when one was named; false (after saying so) when it cannot be.
bool OpenLog(HostLog& log, const CommonOptions& options) {
  if (options.logPath.empty()) return true;
  const auto error = log.OpenFile(options.logPath);
  if (error) std::fprintf(stderr, "torva-host: %s\n", error->c_str());
  return !error;
}

// Closes the log file after a run; a line it lost turns the run's status into an output failure.
int CloseLog(HostLog& log, int status) {
  if (log.CloseFile()) return status;
  std::fprintf(stderr, "torva-host: %s\n", log.FileFailure()->c_str());
  return kExitOutputFailed;
}

int Capture(const std::vector<std::string>& arguments) {
  CaptureOptions options;
  if (const auto status = ParseCaptureOptions(arguments, options)) return *status;
  HostLog log(stderr, options.common.verbose);
  if (!OpenLog(log, options.common)) return kExitUsageOrLoading;
  std::string error;
  const std::unique_ptr<OutputFile> output = OutputFile::Open(options.outputPath, error);
  std::unique_ptr<OutputFile> c3d, mot;
  if (output && !options.c3dPath.empty()) {
    c3d = OutputFile::Open(options.c3dPath, error, OutputFile::Placement::kReplaceWhenKept,
                           OutputFile::Units::kRecords);
  }
  if (output && (options.c3dPath.empty() || c3d) && !options.motPath.empty())
    mot = OutputFile::Open(options.motPath, error);
  if (!output || (!options.c3dPath.empty() && !c3d) || (!options.motPath.empty() && !mot)) {
    std::fprintf(stderr, "torva-host: %s\n", error.c_str());
    return kExitUsageOrLoading;
  }
  return CloseLog(log, RunCapture(options, log, {*output, c3d.get(), mot.get()}));
}

int Live(const std::vector<std::string>& arguments) {
  LiveOptions options;
  if (const auto status = ParseLiveOptions(arguments, options)) return *status;
  HostLog log(stderr, options.common.verbose);
  if (!OpenLog(log, options.common)) return kExitUsageOrLoading;
  return CloseLog(log, RunLive(options, log));
}

int Detect(const std::vector<std::string>& arguments) {
  DetectOptions options;
  if (const auto status = ParseDetectOptions(arguments, options)) return *status;
  HostLog log(stderr, options.common.verbose);
  if (!OpenLog(log, options.common)) return kExitUsageOrLoading;
  return CloseLog(log, RunDetect(options, log));
}

template <typename Run>
int Report(const char* usage, const std::vector<std::string>& arguments, Run run);

// The whole help: the usage, then every command's options as `<command> --help` prints them
// (reading the options loads nothing), then the exit statuses.
void PrintHelp() {
  PrintUsage(stdout);
  std::printf("\ncommand options:\n\n");
  Capture({"--help"});
  std::printf("\n");
  Live({"--help"});
  std::printf("\n");
  Detect({"--help"});
  std::printf("\n");
  Report("torva-host definitions [options]", {"--help"}, RunDefinitions);
  std::printf("\nexit status: 0 success; 1 wrong options, an output or log file that cannot be "
              "created or written (a write that fails ends the capture, keeping the rows written "
              "before), or a plugin that cannot be loaded; 2 no plates detected; 3 the detection "
              "failed or did not end within its limit; 4 the capture stalled or saw no hardware "
              "trigger; 130 (SIGINT) or 143 (SIGTERM) the capture or live view was ended by that "
              "signal, keeping what it recorded (a second signal ends the program at once). "
              "live ends with 0 when a page presses Quit.\n");
}

template <typename Run>
int Report(const char* usage, const std::vector<std::string>& arguments, Run run) {
  CommonOptions options;
  if (const auto status = ParseCommonOptions(usage, arguments, options)) return *status;
  HostLog log(stderr, options.verbose);
  if (!OpenLog(log, options)) return kExitUsageOrLoading;
  return CloseLog(log, run(options, log));
}

// What the command printed must have reached standard output: a full disk or a reader that left
// fails the run as any other output would.
int CheckStandardOutput(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  const int error = errno;
  std::fprintf(stderr, "torva-host: writing standard output failed: %s\n",
               error != 0 ? std::strerror(error) : "write error");
  return status == kExitSuccess ? kExitOutputFailed : status;
}

int RunCommand(const std::string& command, const std::vector<std::string>& arguments) {
  if (command == "--help" || command == "help") {
    PrintHelp();
    return kExitSuccess;
  }
  if (command == "capture") return Capture(arguments);
  if (command == "live") return Live(arguments);
  if (command == "detect") return Detect(arguments);
  if (command == "definitions")
    return Report("torva-host definitions [options]", arguments, RunDefinitions);
  std::fprintf(stderr, "torva-host: unknown command '%s'\n", command.c_str());
  PrintUsage(stderr);
  return kExitUsageOrLoading;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader of standard output that left, or a file-size limit, shows as a failed write (ending
  // the capture cleanly), not as the end of the program.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  torva::tools::InstallTerminationHandlers();
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (words.empty()) {
    PrintUsage(stderr);
    return kExitUsageOrLoading;
  }
  const std::vector<std::string> arguments(words.begin() + 1, words.end());
  return CheckStandardOutput(RunCommand(words.front(), arguments));
}
