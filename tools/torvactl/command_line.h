#pragma once
// Parses a command's own arguments with Boost.Program_options: adds "--help", prints the help or
// the parse error, and stores the values into the variables the description names. Numbers are
// read strictly (checked_number.h) through NumberValue.

#include <boost/program_options.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/torvactl/checked_number.h"

namespace torvactl {

// Exit status of a command that was given arguments it cannot use.
inline constexpr int kUsageStatus = 2;

// Amplifiers one library serves, and so their positions: 0 .. kMaxAmplifiers - 1.
inline constexpr int kMaxAmplifiers = 25;
inline const NumberRule kPositionRule{0, kMaxAmplifiers - 1, true};
// Durations in seconds: above 0 and at most a day, which keeps the deadline arithmetic far from
// overflowing the clock.
inline const NumberRule kSecondsRule{0, 86400, false, true};

// Nothing when the command should run; otherwise the status it should exit with (0 when help was
// shown, kUsageStatus when the arguments were wrong, after saying what is wrong on stderr).
// Options have no short forms, so that negative numbers are read as values. `hidden` holds the
// options behind positional arguments: parsed, but left out of the help, whose title names them.
std::optional<int> ParseCommandLine(
    boost::program_options::options_description& description,
    const std::vector<std::string>& arguments,
    const boost::program_options::positional_options_description* positional = nullptr,
    const boost::program_options::options_description* hidden = nullptr);

// For a command that takes no arguments: accepts only "--help".
std::optional<int> ParseNoArguments(const char* usage, const std::vector<std::string>& arguments);

// A value read with ReadNumber under `rule` into `target` when it is given; `label` names it in
// messages ("--rate", "position"). A refused value fails the parse with ReadNumber's message.
template <typename T>
boost::program_options::typed_value<std::string>* NumberValue(const std::string& label, T& target,
                                                              const NumberRule& rule) {
  return boost::program_options::value<std::string>()->notifier(
      [label, &target, rule](const std::string& text) {
        const std::string refusal = ReadNumber(label, text, rule, target);
        if (!refusal.empty()) throw boost::program_options::error(refusal);
      });
}

// An argument the command reads itself: ReadNumber, printing the refusal on stderr.
template <typename T>
bool ReadArgument(const std::string& label, const std::string& text, const NumberRule& rule,
                  T& target) {
  const std::string refusal = ReadNumber(label, text, rule, target);
  if (!refusal.empty()) std::fprintf(stderr, "torvactl: %s\n", refusal.c_str());
  return refusal.empty();
}

// "<position> [values...]": the amplifier position and exactly `valueCount` further arguments,
// which the command reads itself (with ReadNumber).
struct PositionArguments {
  int position = 0;
  std::vector<std::string> values;
};
std::optional<int> ParsePositionArguments(const char* usage,
                                          const std::vector<std::string>& arguments,
                                          std::size_t valueCount, PositionArguments& parsed);

}  // namespace torvactl
