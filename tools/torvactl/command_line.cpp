#include "tools/torvactl/command_line.h"

#include <cstdio>
#include <iostream>

namespace po = boost::program_options;

namespace torvactl {

bool ParseCommandLine(po::options_description& description,
                      const std::vector<std::string>& arguments,
                      const po::positional_options_description* positional) {
  description.add_options()("help", "show this help");
  try {
    po::command_line_parser parser(arguments);
    parser.options(description)
        .style(po::command_line_style::unix_style ^ po::command_line_style::allow_short);
    if (positional != nullptr) parser.positional(*positional);
    po::variables_map map;
    po::store(parser.run(), map);
    if (map.count("help")) {
      std::cout << description;
      return false;
    }
    po::notify(map);
  } catch (const po::error& error) {
    std::fprintf(stderr, "torvactl: %s\n", error.what());
    return false;
  }
  return true;
}

}  // namespace torvactl
