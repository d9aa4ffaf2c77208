// Small commands that change one amplifier: blink, gains, excitations, rotation.
//   torvactl blink <position>
//   torvactl set-gains <position> g0 g1 g2 g3 g4 g5          (each 0..3)
//   torvactl set-excitations <position> e0 e1 e2 e3 e4 e5    (each 0..2)
//   torvactl set-rotation <position> <degrees>
// Each setter reads the amplifier's parameters back afterwards and prints what it now holds.

#include <boost/program_options.hpp>
#include <chrono>
#include <cstdio>
#include <thread>

#include "driver/api/TorvaUSBDevice.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/library_session.h"

namespace po = boost::program_options;

namespace torvactl {
namespace {

struct Target {
  int position = 0;
  std::vector<std::string> values;
};

// Parses "<position> [values...]"; prints the problem and returns false on bad input.
bool ParseTarget(const char* usage, const std::vector<std::string>& arguments,
                 std::size_t valueCount, Target& target) {
  po::options_description options(usage);
  options.add_options()(
      "position", po::value<int>(&target.position)->required(), "amplifier position (0-based)")(
      "values", po::value<std::vector<std::string>>(&target.values), "values");
  po::positional_options_description positional;
  positional.add("position", 1).add("values", -1);
  if (!ParseCommandLine(options, arguments, &positional)) return false;
  if (target.values.size() != valueCount) {
    std::fprintf(stderr, "torvactl: expected %zu values\nusage: %s\n", valueCount, usage);
    return false;
  }
  return true;
}

bool SelectPosition(int position) {
  if (position < 0 || position >= fmDLLGetDeviceCount()) {
    std::fprintf(stderr, "torvactl: no amplifier at position %d (%d found)\n", position,
                 fmDLLGetDeviceCount());
    return false;
  }
  fmDLLSelectDeviceIndex(position);
  return true;
}

bool ParseInts(const std::vector<std::string>& texts, int* out) {
  try {
    for (std::size_t i = 0; i < texts.size(); ++i) out[i] = std::stoi(texts[i]);
  } catch (const std::exception&) {
    std::fprintf(stderr, "torvactl: values must be whole numbers\n");
    return false;
  }
  return true;
}

// Reads every parameter back from the selected amplifier and waits for the reply.
void ReadBack() {
  fmRetrieveAllParams();
  // Two replies arrive for one request; give them time without depending on their count.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

void PrintSelections(const char* label, void (*get)(int*)) {
  int values[6];
  get(values);
  std::printf("%s:", label);
  for (int value : values) std::printf(" %d", value);
  std::printf("\n");
}

template <typename Apply>
int RunSetter(const char* usage, const std::vector<std::string>& arguments,
              std::size_t valueCount, Apply apply) {
  Target target;
  if (!ParseTarget(usage, arguments, valueCount, target)) return 2;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  if (!SelectPosition(target.position)) return 1;
  return apply(target.values);
}

}  // namespace

int RunBlink(const std::vector<std::string>& arguments) {
  return RunSetter("torvactl blink <position>", arguments, 0, [](const auto&) {
    fmSetBlink();
    ReadBack();
    std::printf("blink sent\n");
    return 0;
  });
}

// Sets six selections of the selected amplifier and prints what it holds afterwards.
static int RunSelections(const char* usage, const std::vector<std::string>& arguments,
                  void (*set)(int*), void (*get)(int*), const char* label) {
  return RunSetter(usage, arguments, 6, [&](const auto& values) {
    int selections[6];
    if (!ParseInts(values, selections)) return 2;
    set(selections);
    ReadBack();
    PrintSelections(label, get);
    return 0;
  });
}

int RunSetGains(const std::vector<std::string>& arguments) {
  return RunSelections("torvactl set-gains <position> g0 g1 g2 g3 g4 g5", arguments,
                       fmSetCurrentGains, fmGetCurrentGains, "gains");
}

int RunSetExcitations(const std::vector<std::string>& arguments) {
  return RunSelections("torvactl set-excitations <position> e0 e1 e2 e3 e4 e5", arguments,
                       fmSetCurrentExcitations, fmGetCurrentExcitations, "excitations");
}

int RunSetRotation(const std::vector<std::string>& arguments) {
  return RunSetter("torvactl set-rotation <position> <degrees>", arguments, 1,
                   [](const auto& values) {
                     float degrees = 0;
                     try {
                       degrees = std::stof(values[0]);
                     } catch (const std::exception&) {
                       std::fprintf(stderr, "torvactl: degrees must be a number\n");
                       return 2;
                     }
                     fmSetPlatformRotation(degrees);
                     ReadBack();
                     std::printf("rotation: %g deg\n", static_cast<double>(fmGetPlatformRotation()));
                     return 0;
                   });
}

}  // namespace torvactl
