#include "tools/torvactl/checked_number.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

namespace torvactl {
namespace {

std::string Format(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", number);
  return text;
}

bool WithinRange(double value, const NumberRule& rule) {
  const bool aboveLowest = rule.lowestExcluded ? value > rule.lowest : value >= rule.lowest;
  const bool belowHighest = rule.highestExcluded ? value < rule.highest : value <= rule.highest;
  return aboveLowest && belowHighest;
}

std::string Refusal(const std::string& what, const std::string& text, const char* problem,
                    const NumberRule& rule) {
  return what + " '" + text + "' " + problem + "; allowed: " + DescribeAllowed(rule);
}

// The whole text as a T, or the reason it is not one (`notOne` when it is no T at all).
template <typename T>
std::optional<T> ParseWhole(const std::string& text, const char* notOne, const char*& problem) {
  T number{};
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, number);
  const bool wholeText = !text.empty() && end == last;
  if (wholeText && error == std::errc::result_out_of_range) {
    problem = "is out of range";
    return std::nullopt;
  }
  if (!wholeText || error != std::errc()) {
    problem = notOne;
    return std::nullopt;
  }
  return number;
}

// The text as a number of the rule's kind, or the reason it is not one.
std::optional<double> Parse(const std::string& text, const NumberRule& rule,
                            const char*& problem) {
  if (rule.wholeNumber) {
    const auto whole = ParseWhole<long long>(text, "is not a whole number", problem);
    return whole ? std::optional<double>(static_cast<double>(*whole)) : std::nullopt;
  }
  const auto number = ParseWhole<double>(text, "is not a number", problem);
  if (number && !std::isfinite(*number)) {
    problem = "is not a finite number";
    return std::nullopt;
  }
  return number;
}

// Reads the number, converts it to T and checks the converted value, so that rounding to a
// narrower type cannot carry it out of the range.
template <typename T>
std::string Read(const std::string& what, const std::string& text, const NumberRule& rule,
                 T& value) {
  const char* problem = "";
  const std::optional<double> number = Parse(text, rule, problem);
  if (!number) return Refusal(what, text, problem, rule);
  if (!WithinRange(*number, rule)) return Refusal(what, text, "is out of range", rule);
  const T converted = static_cast<T>(*number);
  if (!WithinRange(static_cast<double>(converted), rule))
    return Refusal(what, text, "is out of range", rule);
  value = converted;
  return {};
}

}  // namespace

std::string DescribeAllowed(const NumberRule& rule) {
  std::string text = rule.wholeNumber ? "a whole number " : "a number ";
  if (!rule.lowestExcluded && !rule.highestExcluded)
    return text + "from " + Format(rule.lowest) + " to " + Format(rule.highest);
  text += (rule.lowestExcluded ? "above " : "from ") + Format(rule.lowest);
  text += (rule.highestExcluded ? " and below " : " and at most ") + Format(rule.highest);
  return text;
}

std::string ReadNumber(const std::string& what, const std::string& text, const NumberRule& rule,
                       double& value) {
  return Read(what, text, rule, value);
}

std::string ReadNumber(const std::string& what, const std::string& text, const NumberRule& rule,
                       float& value) {
  return Read(what, text, rule, value);
}

std::string ReadNumber(const std::string& what, const std::string& text, const NumberRule& rule,
                       int& value) {
  return Read(what, text, rule, value);
}

}  // namespace torvactl
