#pragma once
// The options of torva-host's commands, read with Boost.Program_options and checked strictly
// before anything starts: a duration must be above 0, the sync mode "software" or "hardware".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torva::host {

enum class SyncChoice { kSoftware, kHardware };

// Options every command takes.
struct CommonOptions {
  std::string pluginPath;  // empty: the plugin beside the program
  std::string logPath;     // empty: no log file
  bool verbose = false;
  double detectTimeoutSeconds = 120;
};

struct CaptureOptions {
  CommonOptions common;
  double seconds = 5;
  std::string rate = "1000";  // handed to the plugin as text
  SyncChoice sync = SyncChoice::kSoftware;
  double threshold = 20;
  bool zero = false;
  std::string outputPath;  // empty: standard output
  std::string plotPath;    // empty: no plot (needs outputPath)
  std::string c3dPath;     // empty: no C3D file
  std::string motPath;     // empty: no OpenSim motion file
  std::string layoutPath;  // empty: the plates in the default row
  double stallSeconds = 2;
};

struct DetectOptions {
  CommonOptions common;
  std::string layoutPath;       // empty: the plates in the default row
  std::string writeLayoutPath;  // empty: no layout file written
};

struct LiveOptions {
  CommonOptions common;
  std::uint16_t port = 8080;
  std::string listen = "127.0.0.1";
  std::string trialsPath = "trials";
  std::string layoutPath;  // empty: the plates in the default row
  std::string rate = "1000";
  SyncChoice sync = SyncChoice::kSoftware;
  double threshold = 20;
};

// Nothing when the command should run, otherwise the exit status (0 after --help).
std::optional<int> ParseCaptureOptions(const std::vector<std::string>& arguments,
                                       CaptureOptions& options);
std::optional<int> ParseDetectOptions(const std::vector<std::string>& arguments,
                                      DetectOptions& options);
std::optional<int> ParseLiveOptions(const std::vector<std::string>& arguments,
                                    LiveOptions& options);
std::optional<int> ParseCommonOptions(const char* usage, const std::vector<std::string>& arguments,
                                      CommonOptions& options);

}  // namespace torva::host
