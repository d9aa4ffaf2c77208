#pragma once
// Reads numbers from the command line strictly: the whole text must be the number, it must be
// finite, and it must lie within the range that makes sense for what it sets. Every numeric
// argument and option of torvactl goes through here, so every command rejects the same mistakes
// with the same kind of message.

#include <string>

namespace torvactl {

// What a number may be: whole or not, and its range. A bound that is "excluded" is not itself
// allowed (seconds must be above 0, an angle below 360).
struct NumberRule {
  double lowest;
  double highest;
  bool wholeNumber = false;
  bool lowestExcluded = false;
  bool highestExcluded = false;
};

// "a whole number from 0 to 3", "a number above 0 and at most 86400", ...
std::string DescribeAllowed(const NumberRule& rule);

// Reads `text` under `rule` into `value`. Returns an empty text on success, otherwise the full
// message for the user, naming `what` (the option or argument), the text and what is allowed;
// `value` is then unchanged.
std::string ReadNumber(const std::string& what, const std::string& text, const NumberRule& rule,
                       double& value);
std::string ReadNumber(const std::string& what, const std::string& text, const NumberRule& rule,
                       float& value);
std::string ReadNumber(const std::string& what, const std::string& text, const NumberRule& rule,
                       int& value);

}  // namespace torvactl
