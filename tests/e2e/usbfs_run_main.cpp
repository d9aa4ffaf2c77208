// torva-usbfs-run: runs a command with emulated amplifiers plugged into an emulated USB bus that
// the real libusb-1.0 reaches through umockdev, so that the driver library and its tools take the
// code path of real hardware without any.
//   torva-usbfs-run [--amplifiers SPEC] [--reply-status S] [--unplug INDEX@SECONDS] [--statistics]
//                   -- COMMAND [ARGUMENTS...]
// SPEC is a count or a comma-separated list of product types, as for TORVA_SIMULATE (default 1);
// TORVA_SIMULATE itself is cleared for the command. --reply-status makes every amplifier answer
// every command with status S (0..255; 1 is "done"), so that it declines them all. --statistics
// prints the usbfs requests served and, per amplifier, the command transmissions and the
// streaming packets sent to standard error at the end. --unplug pulls amplifier INDEX out of the
// bus SECONDS after the command started.
// Exits with the command's status.

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulate_variable.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/umockdev_preload.h"
#include "tests/e2e/usbfs_testbed.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kFailureStatus = 1;

struct Options {
  std::string amplifiers = "1";
  bool statistics = false;
  int replyStatus = -1;  // -1: the amplifiers answer as they normally do
  long unplugIndex = -1;  // -1: nothing is unplugged
  double unplugSeconds = 0.0;
  std::vector<std::string> command;
};

volatile sig_atomic_t childPid = 0;

// Passes an interrupt or termination on to the command, which then ends and so ends the run.
void ForwardSignal(int signal) {
  if (childPid > 0) ::kill(childPid, signal);
}

int Usage() {
  std::fprintf(stderr,
               "usage: torva-usbfs-run [--amplifiers COUNT|TYPE,TYPE...] [--reply-status S] "
               "[--unplug INDEX@SECONDS] [--statistics] -- "
               "COMMAND [ARGUMENTS...]\n");
  return kUsageStatus;
}

bool Parse(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--amplifiers") == 0 && i + 1 < argc) {
      options.amplifiers = argv[++i];
    } else if (std::strcmp(argv[i], "--reply-status") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const long status = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || end == argv[i] || status < 0 || status > UINT8_MAX) return false;
      options.replyStatus = static_cast<int>(status);
    } else if (std::strcmp(argv[i], "--unplug") == 0 && i + 1 < argc) {
      // INDEX@SECONDS, both plain non-negative numbers.
      const std::string spec = argv[++i];
      const auto at = spec.find('@');
      if (at == std::string::npos) return false;
      char* end = nullptr;
      const std::string index = spec.substr(0, at);
      const std::string seconds = spec.substr(at + 1);
      options.unplugIndex = std::strtol(index.c_str(), &end, 10);
      if (index.empty() || *end != '\0' || options.unplugIndex < 0) return false;
      options.unplugSeconds = std::strtod(seconds.c_str(), &end);
      if (seconds.empty() || *end != '\0' || !(options.unplugSeconds >= 0.0) ||
          options.unplugSeconds > 3600.0)
        return false;
    } else if (std::strcmp(argv[i], "--statistics") == 0) {
      options.statistics = true;
    } else {
      return false;
    }
  }
  for (++i; i < argc; ++i) options.command.emplace_back(argv[i]);
  return !options.command.empty();
}

// Prints, per amplifier, every command packet that reached it (code x transmissions), the reply
// reads it answered and the streaming packets it sent: the wire totals of the command that ran.
void PrintWireTotals(const torva::e2e::UsbfsTestbed& testbed) {
  for (std::size_t i = 0; i < testbed.Count(); ++i) {
    std::map<int, int> transmissions;
    int replyReads = 0;
    for (const auto& record : testbed.Amplifier(i).WireLog()) {
      if (const auto code = record.CommandCode()) ++transmissions[*code];
      if (record.IsReplyRequest()) ++replyReads;
    }
    int total = 0;
    std::string codes;
    for (const auto& [code, count] : transmissions) {
      total += count;
      codes += " " + std::to_string(code) + "x" + std::to_string(count);
    }
    std::fprintf(stderr,
                 "torva-usbfs-run: amplifier %zu: %d command transmissions (%s ), %d reply reads, "
                 "%lld streaming packets sent\n",
                 i, total, codes.c_str(), replyReads,
                 static_cast<long long>(testbed.Amplifier(i).PacketsSent()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  torva::e2e::EnsureUmockdevPreload(argv);
  Options options;
  if (!Parse(argc, argv, options)) return Usage();
  const auto amplifiers = torva::sim::ParseSimulateVariable(options.amplifiers);
  if (!amplifiers) {
    std::fprintf(stderr, "torva-usbfs-run: '%s' is neither a count nor a list of product types\n",
                 options.amplifiers.c_str());
    return kUsageStatus;
  }
  try {
    torva::e2e::UsbfsTestbed testbed(*amplifiers);
    if (options.replyStatus >= 0) {
      for (std::size_t i = 0; i < testbed.Count(); ++i)
        testbed.Amplifier(i).ForceReplyStatus(static_cast<std::uint8_t>(options.replyStatus));
    }
    struct sigaction forward {};
    forward.sa_handler = ForwardSignal;
    sigemptyset(&forward.sa_mask);
    sigaction(SIGINT, &forward, nullptr);
    sigaction(SIGTERM, &forward, nullptr);
    torva::e2e::ChildProcess child(options.command);
    if (!child.Started()) {
      std::fprintf(stderr, "torva-usbfs-run: cannot start %s\n", options.command[0].c_str());
      return kFailureStatus;
    }
    childPid = child.Pid();
    // The unplug comes from a thread of its own while this one waits for the command; it ends
    // early when the command does.
    std::mutex unplugMutex;
    std::condition_variable commandEnded;
    bool ended = false;
    std::thread unplugger;
    if (options.unplugIndex >= 0) {
      if (static_cast<std::size_t>(options.unplugIndex) >= testbed.Count()) return Usage();
      unplugger = std::thread([&] {
        std::unique_lock<std::mutex> lock(unplugMutex);
        const auto delay = std::chrono::duration<double>(options.unplugSeconds);
        if (commandEnded.wait_for(lock, delay, [&] { return ended; })) return;
        testbed.Unplug(static_cast<std::size_t>(options.unplugIndex));
        std::fprintf(stderr, "torva-usbfs-run: amplifier %ld unplugged\n", options.unplugIndex);
      });
    }
    const torva::e2e::ChildExit exit = child.Wait();
    childPid = 0;
    {
      std::lock_guard<std::mutex> lock(unplugMutex);
      ended = true;
    }
    commandEnded.notify_all();
    if (unplugger.joinable()) unplugger.join();
    if (options.statistics) {
      const torva::e2e::NodeStatistics served = testbed.Statistics();
      std::fprintf(stderr,
                   "torva-usbfs-run: %lld usbfs requests, %lld URBs (%lld discarded), %lld empty "
                   "reaps, %lld halts cleared, %lld resets\n",
                   served.ioctls, served.urbsSubmitted, served.urbsDiscarded, served.emptyReaps,
                   served.haltsCleared, served.resets);
      PrintWireTotals(testbed);
    }
    return exit.status;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "torva-usbfs-run: %s\n", error.what());
    return kFailureStatus;
  }
}
