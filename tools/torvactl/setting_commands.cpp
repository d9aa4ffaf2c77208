// Small commands that change one amplifier: blink, gains, excitations, rotation.
//   torvactl blink <position>
//   torvactl set-gains <position> g0 g1 g2 g3 g4 g5          (each 0..3)
//   torvactl set-excitations <position> e0 e1 e2 e3 e4 e5    (each 0..2)
//   torvactl set-rotation <position> <degrees>                (0 <= degrees < 360)
// Each setter reads the amplifier's parameters back afterwards and prints what it now holds.

#include <chrono>
#include <cstdio>
#include <thread>

#include "driver/api/TorvaUSBDevice.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/library_session.h"

namespace torvactl {
namespace {

bool SelectPosition(int position) {
  if (position < 0 || position >= fmDLLGetDeviceCount()) {
    std::fprintf(stderr, "torvactl: no amplifier at position %d (%d found)\n", position,
                 fmDLLGetDeviceCount());
    return false;
  }
  fmDLLSelectDeviceIndex(position);
  return true;
}

constexpr int kSelections = 6;
const NumberRule kGainRule{0, 3, true};
const NumberRule kExcitationRule{0, 2, true};
// Degrees of a full turn: the amplifier's rotation code is meant for angles 0 <= a < 360.
const NumberRule kRotationRule{0, 360, false, false, true};

// Reads the selections "<prefix>0".."<prefix>5" under `rule`; false at the first bad one.
bool ReadSelections(const std::vector<std::string>& texts, const char* prefix,
                    const NumberRule& rule, int* selections) {
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (!ReadArgument(prefix + std::to_string(i), texts[i], rule, selections[i])) return false;
  return true;
}

// Reads every parameter back from the selected amplifier and waits for the reply.
void ReadBack() {
  fmRetrieveAllParams();
  // Two replies arrive for one request; give them time without depending on their count.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

void PrintSelections(const char* label, void (*get)(int*)) {
  int values[kSelections];
  get(values);
  std::printf("%s:", label);
  for (int value : values) std::printf(" %d", value);
  std::printf("\n");
}

// Parses "<position> [values...]", lets `check` read the values (false: they are wrong), then
// brings the library up, selects the amplifier and runs `apply`.
template <typename Check, typename Apply>
int RunSetter(const char* usage, const std::vector<std::string>& arguments,
              std::size_t valueCount, Check check, Apply apply) {
  PositionArguments target;
  if (const auto status = ParsePositionArguments(usage, arguments, valueCount, target))
    return *status;
  if (!check(target.values)) return kUsageStatus;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  if (!SelectPosition(target.position)) return 1;
  return apply();
}

}  // namespace

int RunBlink(const std::vector<std::string>& arguments) {
  return RunSetter(
      "torvactl blink <position>", arguments, 0, [](const auto&) { return true; },
      [] {
        fmSetBlink();
        ReadBack();
        std::printf("blink sent\n");
        return 0;
      });
}

// Sets six selections of the selected amplifier and prints what it holds afterwards.
static int RunSelections(const char* usage, const std::vector<std::string>& arguments,
                         const char* prefix, const NumberRule& rule, void (*set)(int*),
                         void (*get)(int*), const char* label) {
  int selections[kSelections] = {};
  return RunSetter(
      usage, arguments, kSelections,
      [&](const auto& values) { return ReadSelections(values, prefix, rule, selections); },
      [&] {
        set(selections);
        ReadBack();
        PrintSelections(label, get);
        return 0;
      });
}

int RunSetGains(const std::vector<std::string>& arguments) {
  return RunSelections("torvactl set-gains <position> g0 g1 g2 g3 g4 g5", arguments, "g",
                       kGainRule, fmSetCurrentGains, fmGetCurrentGains, "gains");
}

int RunSetExcitations(const std::vector<std::string>& arguments) {
  return RunSelections("torvactl set-excitations <position> e0 e1 e2 e3 e4 e5", arguments, "e",
                       kExcitationRule, fmSetCurrentExcitations, fmGetCurrentExcitations,
                       "excitations");
}

int RunSetRotation(const std::vector<std::string>& arguments) {
  float degrees = 0;
  return RunSetter(
      "torvactl set-rotation <position> <degrees>", arguments, 1,
      [&](const auto& values) { return ReadArgument("degrees", values[0], kRotationRule, degrees); },
      [&] {
        fmSetPlatformRotation(degrees);
        ReadBack();
        std::printf("rotation: %g deg\n", static_cast<double>(fmGetPlatformRotation()));
        return 0;
      });
}

}  // namespace torvactl
