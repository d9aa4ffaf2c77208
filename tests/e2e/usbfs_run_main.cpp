// torva-usbfs-run: runs a command with emulated amplifiers plugged into an emulated USB bus that
// the real libusb-1.0 reaches through umockdev, so that the driver library and its tools take the
// code path of real hardware without any.
//   torva-usbfs-run [--amplifiers SPEC] [--reply-status S] [--unplug INDEX@WHEN] [--plug WHEN]
//                   [--statistics] -- COMMAND [ARGUMENTS...]
// SPEC is a count or a comma-separated list of product types, as for TORVA_SIMULATE (default 1);
// TORVA_SIMULATE itself is cleared for the command. --reply-status makes every amplifier answer
// every command with status S (0..255; 1 is "done"), so that it declines them all. --statistics
// prints the usbfs requests served and, per amplifier, the command transmissions and the
// streaming packets sent to standard error at the end. --unplug pulls amplifier INDEX out of the
// bus, --plug plugs one more amplifier (of the default product type, with a serial of its own)
// in; WHEN is a number of seconds after the command started, or "usr1": once torva-usbfs-run
// receives SIGUSR1 (so that a test acts when its program is ready).
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
#include <optional>
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
constexpr auto kEventPollInterval = std::chrono::milliseconds(50);

// A plug or unplug, after a delay or on SIGUSR1.
struct BusEvent {
  bool plug = false;
  long index = -1;  // unplug: the amplifier
  std::optional<double> seconds;  // nothing: on SIGUSR1
};

struct Options {
  std::string amplifiers = "1";
  bool statistics = false;
  int replyStatus = -1;  // -1: the amplifiers answer as they normally do
  std::vector<BusEvent> events;
  std::vector<std::string> command;
};

volatile sig_atomic_t childPid = 0;
volatile sig_atomic_t usr1Received = 0;

void NoteUsr1(int) { usr1Received = 1; }

// WHEN: seconds (0 .. 3600) or "usr1".
bool ParseWhen(const std::string& text, BusEvent& event) {
  if (text == "usr1") return true;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds >= 0.0) || seconds > 3600.0) return false;
  event.seconds = seconds;
  return true;
}

// Passes an interrupt or termination on to the command, which then ends and so ends the run.
void ForwardSignal(int signal) {
  if (childPid > 0) ::kill(childPid, signal);
}

int Usage() {
  std::fprintf(stderr,
               "usage: torva-usbfs-run [--amplifiers COUNT|TYPE,TYPE...] [--reply-status S] "
               "[--unplug INDEX@WHEN] [--plug WHEN] [--statistics] -- "
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
      // INDEX@WHEN, INDEX a plain non-negative number.
      const std::string spec = argv[++i];
      const auto at = spec.find('@');
      if (at == std::string::npos) return false;
      char* end = nullptr;
      const std::string index = spec.substr(0, at);
      BusEvent event;
      event.index = std::strtol(index.c_str(), &end, 10);
      if (index.empty() || *end != '\0' || event.index < 0) return false;
      if (!ParseWhen(spec.substr(at + 1), event)) return false;
      options.events.push_back(event);
    } else if (std::strcmp(argv[i], "--plug") == 0 && i + 1 < argc) {
      BusEvent event;
      event.plug = true;
      if (!ParseWhen(argv[++i], event)) return false;
      options.events.push_back(event);
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
    struct sigaction usr1 {};
    usr1.sa_handler = NoteUsr1;
    sigemptyset(&usr1.sa_mask);
    sigaction(SIGUSR1, &usr1, nullptr);
    torva::e2e::ChildProcess child(options.command);
    if (!child.Started()) {
      std::fprintf(stderr, "torva-usbfs-run: cannot start %s\n", options.command[0].c_str());
      return kFailureStatus;
    }
    childPid = child.Pid();
    // Plugs and unplugs come from a thread of its own while this one waits for the command; it
    // ends early when the command does.
    for (const BusEvent& event : options.events)
      if (!event.plug && static_cast<std::size_t>(event.index) >= testbed.Count()) return Usage();
    std::mutex eventMutex;
    std::condition_variable commandEnded;
    bool ended = false;
    std::thread events;
    if (!options.events.empty()) {
      events = std::thread([&] {
        const auto start = std::chrono::steady_clock::now();
        std::vector<BusEvent> pending = options.events;
        std::unique_lock<std::mutex> lock(eventMutex);
        while (!pending.empty() && !commandEnded.wait_for(lock, kEventPollInterval, [&] {
          return ended;
        })) {
          const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
          for (auto event = pending.begin(); event != pending.end();) {
            const bool due = event->seconds ? elapsed.count() >= *event->seconds : usr1Received;
            if (!due) {
              ++event;
              continue;
            }
            if (event->plug) {
              const auto description =
                  torva::sim::ParseSimulateVariable(std::to_string(testbed.Count() + 1))->back();
              std::fprintf(stderr, "torva-usbfs-run: amplifier %zu plugged in\n",
                           testbed.Plug(description));
            } else {
              testbed.Unplug(static_cast<std::size_t>(event->index));
              std::fprintf(stderr, "torva-usbfs-run: amplifier %ld unplugged\n", event->index);
            }
            event = pending.erase(event);
          }
        }
      });
    }
    const torva::e2e::ChildExit exit = child.Wait();
    childPid = 0;
    {
      std::lock_guard<std::mutex> lock(eventMutex);
      ended = true;
    }
    commandEnded.notify_all();
    if (events.joinable()) events.join();
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
