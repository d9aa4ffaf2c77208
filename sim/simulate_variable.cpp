#include "sim/simulate_variable.h"

#include <cctype>
#include <cstdint>

namespace torva::sim {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// A decimal number of at most five digits; empty optional for anything else.
std::optional<std::int32_t> ParseNumber(std::string_view text) {
  constexpr std::size_t kMaxDigits = 5;
  text = Trim(text);
  if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
  std::int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::optional<std::vector<AmplifierDescription>> ParseSimulateVariable(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  std::vector<std::int32_t> productTypes;
  const bool isList = text.find(',') != std::string_view::npos;
  if (!isList) {
    const auto number = ParseNumber(text);
    if (!number) return std::nullopt;
    if (*number <= kMaxEmulatedAmplifiers) {
      productTypes.assign(static_cast<std::size_t>(*number), kDefaultProductType);
    } else {
      productTypes.push_back(*number);
    }
  } else {
    while (true) {
      const std::size_t comma = text.find(',');
      const auto type = ParseNumber(text.substr(0, comma));
      if (!type || *type <= 0 || *type > kMaxProductType) return std::nullopt;
      productTypes.push_back(*type);
      if (comma == std::string_view::npos) break;
      text.remove_prefix(comma + 1);
    }
  }
  if (productTypes.size() > static_cast<std::size_t>(kMaxEmulatedAmplifiers)) return std::nullopt;
  if (!isList && productTypes.size() == 1 && productTypes[0] > kMaxProductType) {
    return std::nullopt;
  }
  std::vector<AmplifierDescription> devices;
  for (std::size_t i = 0; i < productTypes.size(); ++i) {
    devices.push_back(DescribeAmplifier(static_cast<int>(i), productTypes[i]));
  }
  return devices;
}

}  // namespace torva::sim
