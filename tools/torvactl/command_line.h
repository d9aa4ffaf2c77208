#pragma once
// Parses a command's own options with Boost.Program_options: adds "--help", prints the help or
// the parse error, and stores the values into the variables the description names.

#include <boost/program_options.hpp>
#include <string>
#include <vector>

namespace torvactl {

// False when the command should not run (help was shown, or the arguments were wrong).
// Options have no short forms, so that negative numbers are read as values.
bool ParseCommandLine(boost::program_options::options_description& description,
                      const std::vector<std::string>& arguments,
                      const boost::program_options::positional_options_description* positional =
                          nullptr);

}  // namespace torvactl
