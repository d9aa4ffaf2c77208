// torvactl: runs the driver library from the command line.
//   torvactl [--help] <command> [command options]

#include <boost/program_options.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/torvactl/command.h"

namespace po = boost::program_options;

namespace torvactl {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"status", "initialise the library, report version, device count and bring-up state",
       RunStatus},
      {"list", "list the amplifiers on the bus (vendor, product, serial, bus speed)", RunList},
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
  std::printf("usage: torvactl <command> [options]\n\ncommands:\n");
  for (const auto& command : torvactl::Commands())
    std::printf("  %-16s %s\n", command.name, command.summary);
  std::printf("\nRun 'torvactl <command> --help' for a command's options.\n");
}

}  // namespace

int main(int argc, char** argv) {
  po::options_description global("options");
  global.add_options()("help", "show this help")(
      "command", po::value<std::string>()->default_value("status"), "command to run")(
      "arguments", po::value<std::vector<std::string>>(), "arguments of the command");
  po::positional_options_description positional;
  positional.add("command", 1).add("arguments", -1);

  po::variables_map options;
  try {
    // Options after the command name belong to the command.
    po::parsed_options parsed = po::command_line_parser(argc, argv)
                                    .options(global)
                                    .positional(positional)
                                    .style(po::command_line_style::unix_style ^
                                           po::command_line_style::allow_short)
                                    .allow_unregistered()
                                    .run();
    po::store(parsed, options);
    po::notify(options);
  } catch (const po::error& error) {
    std::fprintf(stderr, "torvactl: %s\n", error.what());
    return 2;
  }
  const std::string name = options["command"].as<std::string>();
  if (options.count("help") && name == "status" && argc <= 2) {
    PrintUsage();
    return 0;
  }
  std::vector<std::string> arguments;
  if (options.count("arguments")) arguments = options["arguments"].as<std::vector<std::string>>();
  if (options.count("help")) arguments.insert(arguments.begin(), "--help");

  for (const auto& command : torvactl::Commands())
    if (name == command.name) return command.run(arguments);
  std::fprintf(stderr, "torvactl: unknown command '%s'\n", name.c_str());
  PrintUsage();
  return 2;
}
