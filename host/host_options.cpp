#include "host/host_options.h"

#include <boost/program_options.hpp>
#include <cstdio>
#include <iostream>
#include <limits>
#include <utility>

#include "host/exit_status.h"
#include "tools/torvactl/command_line.h"

namespace po = boost::program_options;

namespace torva::host {

namespace {

// Any threshold from 0 up; the plugin's declared limits are checked once it has declared them.
const torvactl::NumberRule kThresholdRule{0, std::numeric_limits<double>::max()};

void AddCommonOptions(po::options_description& description, CommonOptions& options) {
  description.add_options()("plugin", po::value<std::string>(&options.pluginPath),
                            "the plugin library (default: libTorvaplugin.so in ../lib beside "
                            "the program, or in the installed plugin folder)")(
      "log", po::value<std::string>(&options.logPath),
      "write every plugin log line, with time and severity, to this file")(
      "verbose", po::bool_switch(&options.verbose), "show the plugin's trace lines too")(
      "detect-timeout",
      torvactl::NumberValue("--detect-timeout", options.detectTimeoutSeconds,
                            torvactl::kSecondsRule),
      "seconds the detection may take (default 120)");
}

// Parses with the torvactl rules; a wrong option is the host's usage status.
std::optional<int> Parse(po::options_description& description,
                         const std::vector<std::string>& arguments) {
  description.add_options()("help", "show this help");
  try {
    po::command_line_parser parser(arguments);
    parser.options(description)
        .style(po::command_line_style::unix_style ^ po::command_line_style::allow_short);
    const po::positional_options_description none;
    parser.positional(none);
    po::variables_map map;
    po::store(parser.run(), map);
    if (map.count("help")) {
      std::cout << description;
      return kExitSuccess;
    }
    po::notify(map);
  } catch (const po::error& error) {
    std::fprintf(stderr, "torva-host: %s\n", error.what());
    return kExitUsageOrLoading;
  }
  return std::nullopt;
}

// Refuses a text with a control character (a line break, say): the file names and the rate go
// into gnuplot's command stream and the CSV's comment lines, where a line break would start a
// command or a line of its own.
std::optional<int> RefuseControlCharacters(const char* option, const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
      std::fprintf(stderr, "torva-host: %s: a control character (a line break, a tab, ...) is "
                   "not allowed\n", option);
      return kExitUsageOrLoading;
    }
  }
  return std::nullopt;
}

std::optional<int> ReadSync(const std::string& text, SyncChoice& sync) {
  if (text == "software") {
    sync = SyncChoice::kSoftware;
  } else if (text == "hardware") {
    sync = SyncChoice::kHardware;
  } else {
    std::fprintf(stderr, "torva-host: --sync '%s': choose software or hardware\n", text.c_str());
    return kExitUsageOrLoading;
  }
  return std::nullopt;
}

std::optional<int> CheckRate(const std::string& rate) {
  if (rate.empty()) {
    std::fprintf(stderr, "torva-host: --rate needs a value\n");
    return kExitUsageOrLoading;
  }
  return RefuseControlCharacters("--rate", rate);
}

// The options that set up the acquisition, as capture and live take them.
void AddAcquisitionOptions(po::options_description& description, std::string& rate,
                           std::string& sync, double& threshold) {
  description.add_options()("rate", po::value<std::string>(&rate),
                            "acquisition rate handed to the plugin as text (default 1000)")(
      "sync", po::value<std::string>(&sync), "software | hardware (default software)")(
      "threshold", torvactl::NumberValue("--threshold", threshold, kThresholdRule),
      "Fz threshold in N (default 20)");
}

}  // namespace

std::optional<int> ParseCaptureOptions(const std::vector<std::string>& arguments,
                                       CaptureOptions& options) {
  std::string sync = "software";
  po::options_description description("torva-host capture [options]");
  description.add_options()(
      "seconds", torvactl::NumberValue("--seconds", options.seconds, torvactl::kSecondsRule),
      "seconds to record from the first block (default 5)")("zero", po::bool_switch(&options.zero),
                                        "zero the plates once the capture runs")(
      "output", po::value<std::string>(&options.outputPath), "CSV file (default: standard output)")(
      "plot", po::value<std::string>(&options.plotPath),
      "PNG file: Fz, Cx and Cy of every plate over time (needs --output and gnuplot)")(
      "c3d", po::value<std::string>(&options.c3dPath),
      "C3D file: the plates' forces and moments with their corners and origins in the lab")(
      "mot", po::value<std::string>(&options.motPath),
      "OpenSim motion file: every plate's ground reaction force, CoP and free moment")(
      "layout", po::value<std::string>(&options.layoutPath),
      "layout file: where each plate stands in the lab (default: in a row along x)")(
      "stall", torvactl::NumberValue("--stall", options.stallSeconds, torvactl::kSecondsRule),
      "seconds without data that end the capture as stalled (default 2)");
  AddAcquisitionOptions(description, options.rate, sync, options.threshold);
  AddCommonOptions(description, options.common);
  if (const auto status = Parse(description, arguments)) return status;
  if (auto status = ReadSync(sync, options.sync)) return status;
  if (!options.plotPath.empty() && options.outputPath.empty()) {
    std::fprintf(stderr, "torva-host: --plot draws from the CSV file: give --output too\n");
    return kExitUsageOrLoading;
  }
  if (auto status = CheckRate(options.rate)) return status;
  for (const auto& [option, path] :
       {std::pair<const char*, const std::string*>{"--output", &options.outputPath},
        {"--plot", &options.plotPath},
        {"--c3d", &options.c3dPath},
        {"--mot", &options.motPath},
        {"--layout", &options.layoutPath}}) {
    if (auto status = RefuseControlCharacters(option, *path)) return status;
  }
  return std::nullopt;
}

std::optional<int> ParseDetectOptions(const std::vector<std::string>& arguments,
                                      DetectOptions& options) {
  po::options_description description("torva-host detect [options]");
  description.add_options()("layout", po::value<std::string>(&options.layoutPath),
                            "layout file: where each plate stands in the lab")(
      "write-layout", po::value<std::string>(&options.writeLayoutPath),
      "write the detected plates' layout (the default row for plates --layout does not name) "
      "to this file, to edit");
  AddCommonOptions(description, options.common);
  if (const auto status = Parse(description, arguments)) return status;
  return RefuseControlCharacters("--write-layout", options.writeLayoutPath);
}

std::optional<int> ParseLiveOptions(const std::vector<std::string>& arguments,
                                    LiveOptions& options) {
  std::string sync = "software";
  po::options_description description("torva-host live [options]");
  description.add_options()(
      "port", po::value<std::uint16_t>(&options.port),
      "port of the live page (default 8080; 0: any free port)")(
      "listen", po::value<std::string>(&options.listen),
      "address to listen on (default 127.0.0.1: this machine only; another address lets anyone "
      "on that network watch and press the buttons)")(
      "trials", po::value<std::string>(&options.trialsPath),
      "folder of the recorded trials, trial-NNN.c3d and trial-NNN.csv (default: trials)")(
      "layout", po::value<std::string>(&options.layoutPath),
      "layout file: where each plate stands in the lab (default: in a row along x)");
  AddAcquisitionOptions(description, options.rate, sync, options.threshold);
  AddCommonOptions(description, options.common);
  if (const auto status = Parse(description, arguments)) return status;
  if (auto status = ReadSync(sync, options.sync)) return status;
  if (auto status = CheckRate(options.rate)) return status;
  for (const auto& [option, path] :
       {std::pair<const char*, const std::string*>{"--trials", &options.trialsPath},
        {"--layout", &options.layoutPath}}) {
    if (auto status = RefuseControlCharacters(option, *path)) return status;
  }
  if (options.trialsPath.empty()) {
    std::fprintf(stderr, "torva-host: --trials needs a folder\n");
    return kExitUsageOrLoading;
  }
  return std::nullopt;
}

std::optional<int> ParseCommonOptions(const char* usage, const std::vector<std::string>& arguments,
                                      CommonOptions& options) {
  po::options_description description(usage);
  AddCommonOptions(description, options);
  return Parse(description, arguments);
}

}  // namespace torva::host
