#include "tools/torvactl/command_line.h"

#include <cstdio>
#include <iostream>

namespace po = boost::program_options;

namespace torvactl {

std::optional<int> ParseCommandLine(po::options_description& description,
                                    const std::vector<std::string>& arguments,
                                    const po::positional_options_description* positional,
                                    const po::options_description* hidden) {
  description.add_options()("help", "show this help");
  po::options_description parsed;
  parsed.add(description);
  if (hidden != nullptr) parsed.add(*hidden);
  try {
    po::command_line_parser parser(arguments);
    parser.options(parsed)
        .style(po::command_line_style::unix_style ^ po::command_line_style::allow_short);
    // Without a positional description, any argument that is not an option is refused.
    const po::positional_options_description none;
    parser.positional(positional != nullptr ? *positional : none);
    po::variables_map map;
    po::store(parser.run(), map);
    if (map.count("help")) {
      std::cout << description;
      return 0;
    }
    po::notify(map);
  } catch (const po::error& error) {
    std::fprintf(stderr, "torvactl: %s\n", error.what());
    return kUsageStatus;
  }
  return std::nullopt;
}

std::optional<int> ParseNoArguments(const char* usage, const std::vector<std::string>& arguments) {
  po::options_description description(usage);
  return ParseCommandLine(description, arguments);
}

std::optional<int> ParsePositionArguments(const char* usage,
                                          const std::vector<std::string>& arguments,
                                          std::size_t valueCount, PositionArguments& parsed) {
  po::options_description description(usage);
  po::options_description hidden;
  hidden.add_options()(
      "position", NumberValue("position", parsed.position, kPositionRule)->required(),
      "amplifier position (0-based)")(
      "values", po::value<std::vector<std::string>>(&parsed.values), "values");
  po::positional_options_description positional;
  positional.add("position", 1).add("values", -1);
  if (const auto status = ParseCommandLine(description, arguments, &positional, &hidden))
    return status;
  if (parsed.values.size() != valueCount) {
    std::fprintf(stderr, "torvactl: expected %zu values after the position, got %zu\nusage: %s\n",
                 valueCount, parsed.values.size(), usage);
    return kUsageStatus;
  }
  return std::nullopt;
}

}  // namespace torvactl
