#pragma once
// The value of TORVA_SIMULATE: a count ("3": three amplifiers with product type 100 plates) or a
// comma-separated list of product types ("100,300,400"). A single number from 0 to 25 is a count;
// any other single number is a one-entry list of product types.

#include <optional>
#include <string_view>
#include <vector>

#include "sim/amplifier_description.h"

namespace torva::sim {

// The name of the environment variable.
inline constexpr const char* kSimulateVariable = "TORVA_SIMULATE";
// The library serves at most this many amplifiers.
inline constexpr int kMaxEmulatedAmplifiers = 25;
inline constexpr std::int32_t kDefaultProductType = 100;
inline constexpr std::int32_t kMaxProductType = 9999;

// The amplifiers a value describes, each with distinct serials; empty optional when the value is
// malformed (not a count or list of positive numbers, or more than 25 amplifiers).
std::optional<std::vector<AmplifierDescription>> ParseSimulateVariable(std::string_view text);

}  // namespace torva::sim
