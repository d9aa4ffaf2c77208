// Commands around acquisition that need no CSV: platform ordering, zero and tare.
//   torvactl order [--threshold N] [--timeout S]   step on the plates in the order wanted
//   torvactl zero                                   zero every amplifier
//   torvactl tare                                   tare every amplifier and print the values

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

constexpr auto kPoll = std::chrono::milliseconds(20);
// A load is a vertical force above 0 N; ten tonnes is beyond any plate.
const NumberRule kThresholdRule{0, 100000, false, true};

std::optional<int> ParseOrderOptions(const std::vector<std::string>& arguments, float& threshold,
                                     double& timeout) {
  po::options_description description("torvactl order [--threshold N] [--timeout S]");
  description.add_options()(
      "threshold", NumberValue("--threshold", threshold, kThresholdRule)->default_value("200"),
      "vertical force in newtons that marks a plate as stepped on")(
      "timeout", NumberValue("--timeout", timeout, kSecondsRule)->default_value("30"),
      "give up after this many seconds");
  return ParseCommandLine(description, arguments);
}

void PrintOrder() {
  int order[25];
  const int count = fmDLLGetPlatformOrder(order);
  std::printf("platform order (position: amplifier slot, plate serial):\n");
  for (int position = 0; position < count; ++position) {
    fmDLLSelectDeviceIndex(position);
    char serial[17] = {};
    fmGetPlatformSerialNumber(serial);
    std::printf("  %d: slot %d, plate %s\n", position, order[position], serial);
  }
}

}  // namespace

int RunOrder(const std::vector<std::string>& arguments) {
  float threshold = 0;
  double timeout = 0;
  if (const auto status = ParseOrderOptions(arguments, threshold, timeout)) return *status;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  if (fmDLLGetDeviceCount() == 0) {
    std::fprintf(stderr, "torvactl: no amplifiers found\n");
    return 1;
  }
  fmBroadcastPlatformOrderingThreshold(threshold);
  fmDLLStartPlatformOrdering();
  fmBroadcastStart();
  std::fprintf(stderr, "step on the plates one after the other (threshold %.0f N)...\n",
               static_cast<double>(threshold));
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeout));
  while (fmDLLIsPlatformOrderingComplete() == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      fmDLLCancelPlatformOrdering();
      std::fprintf(stderr, "torvactl: not every plate was loaded in %.0f s; order unchanged\n",
                   timeout);
      PrintOrder();
      return 1;
    }
    std::this_thread::sleep_for(kPoll);
  }
  PrintOrder();
  return 0;
}

int RunZero(const std::vector<std::string>& arguments) {
  if (const auto status = ParseNoArguments("torvactl zero", arguments)) return *status;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  fmBroadcastZero();
  std::printf("zero sent to %d amplifiers\n", fmDLLGetDeviceCount());
  return 0;
}

int RunTare(const std::vector<std::string>& arguments) {
  if (const auto status = ParseNoArguments("torvactl tare", arguments)) return *status;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  fmBroadcastTare();
  const int count = fmDLLGetDeviceCount();
  for (int position = 0; position < count; ++position) {
    fmDLLSelectDeviceIndex(position);
    fmUpdateTare();
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int position = 0; position < count; ++position) {
    fmDLLSelectDeviceIndex(position);
    int tare[6] = {};
    while (fmGetTare(tare) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(kPoll);
    std::printf("amplifier %d tare:", position);
    for (int value : tare) std::printf(" %d", value);
    std::printf("\n");
  }
  return 0;
}

}  // namespace torvactl
