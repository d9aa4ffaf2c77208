// torvactl: runs the driver library from the command line.
//   torvactl [--help] [--verbose] <command> [command options]
// --verbose (anywhere on the line) switches the library's diagnostic log fully on, as
// TORVA_DEBUG=3 does: every event goes to standard error.

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/torvactl/command.h"

namespace torvactl {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"stream", "stream every amplifier to CSV: stream [--seconds S] [--rate R] [--format F] "
                 "[--output FILE] [--zero]",
       RunStream},
      {"order", "find the platform order by stepping on the plates: order [--threshold N]",
       RunOrder},
      {"zero", "zero every amplifier", RunZero},
      {"tare", "tare every amplifier and print the tare values", RunTare},
      {"setup-check", "compare the amplifiers with the saved setup", RunSetupCheck},
      {"save-config", "save the amplifiers and their order as the setup", RunSaveConfig},
      {"download-cal", "download a smart plate's calibration file: download-cal <position>",
       RunDownloadCal},
      {"status", "initialise the library, report version, device count and bring-up state",
       RunStatus},
      {"list", "list the amplifiers on the bus (vendor, product, serial, bus speed); with "
               "TORVA_SIMULATE, the library's emulated amplifiers (serial, model)", RunList},
      {"info", "print every amplifier's identity and parameter block", RunInfo},
      {"blink", "blink an amplifier's light: blink <position>", RunBlink},
      {"set-gains", "set gain selections: set-gains <position> g0..g5", RunSetGains},
      {"set-excitations", "set excitation selections: set-excitations <position> e0..e5",
       RunSetExcitations},
      {"set-rotation", "set the platform rotation: set-rotation <position> <degrees>",
       RunSetRotation},
  };
  return commands;
}

}  // namespace torvactl

namespace {

void PrintUsage() {
  std::printf("Usage: torvactl [--verbose] <command> [options]\n\ncommands:\n");
  for (const auto& command : torvactl::Commands())
    std::printf("  %-16s %s\n", command.name, command.summary);
  std::printf("\n--verbose logs what the library does to standard error (as TORVA_DEBUG=3).\n"
              "Run 'torvactl <command> --help' for a command's options.\n");
}

// The whole help: the usage, then every command's own options as `<command> --help` prints them
// (each command reads its arguments before it touches the library, so this runs nothing else).
void PrintHelp() {
  PrintUsage();
  std::printf("\ncommand options:\n");
  for (const auto& command : torvactl::Commands()) {
    std::cout << '\n';
    command.run({"--help"});
  }
  std::printf("\nexit status: 0 success, 1 the command failed, 2 unusable arguments; stream: 130 "
              "(SIGINT) or 143 (SIGTERM) ended by that signal, with every frame taken until then "
              "written and summarised (a second signal ends it at once).\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
  const auto verbose = std::remove(words.begin(), words.end(), std::string("--verbose"));
  if (verbose != words.end()) {
    words.erase(verbose, words.end());
    // Before the first library call, which reads the level once.
    ::setenv("TORVA_DEBUG", "3", 1);
  }
  // The first word names the command; everything after it belongs to the command, whose own
  // options are parsed there.
  const std::string name = words.empty() ? "status" : words.front();
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp();
    return 0;
  }
  const std::vector<std::string> arguments(words.begin() + (words.empty() ? 0 : 1), words.end());
  for (const auto& command : torvactl::Commands())
    if (name == command.name) return command.run(arguments);
  std::fprintf(stderr, "torvactl: unknown command '%s'\n", name.c_str());
  PrintUsage();
  return 2;
}
