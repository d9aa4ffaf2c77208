#pragma once
// The setup check: do the attached amplifiers match the saved setup, and in which order are their
// plates reported. The plates of the saved setup come first, in saved order, followed by any
// other attached amplifier in its previous order.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/control/setup_file.h"

namespace torva {

// An amplifier serial number as the amplifier reports it: NUL-padded, no NUL when full.
using SerialField = std::array<char, kSerialFieldBytes>;

enum class SetupMatchResult : int {
  kMatches = 0,        // every saved amplifier found, and no other attached
  kCountCorrupt = 1,   // the saved count is outside 0..kMaxAmplifiers
  kDiffers = 2,        // an attached amplifier is not in the saved setup
  kFewerAttached = 3,  // fewer amplifiers attached than saved, all of them in the saved setup
};

struct SetupMatch {
  SetupMatchResult result = SetupMatchResult::kMatches;
  std::vector<int> order;  // position -> slot, a permutation of 0..deviceCount-1
};

// Matches the saved setup against the `deviceCount` attached amplifiers, whose serial numbers are
// `slotSerials[slot]` (a slot without an entry there matches nothing), and gives the new platform
// order. `currentOrder` supplies the order of the amplifiers not in the saved setup; slot numbers
// it repeats or that are out of range are skipped, and slots it lacks follow in slot order. A
// saved entry with an empty serial number matches no amplifier.
SetupMatch MatchSavedSetup(const SavedSetup& saved, int deviceCount,
                           const std::vector<SerialField>& slotSerials,
                           const std::vector<int>& currentOrder);

// Setup-check status.
inline constexpr std::int32_t kSetupNotChecked = 0;
inline constexpr std::int32_t kSetupMatches = 1;
inline constexpr std::int32_t kSetupFileNotFound = 211;
inline constexpr std::int32_t kSetupFileWrongVersion = 213;
inline constexpr std::int32_t kSetupMismatch = 214;
inline constexpr std::int32_t kNoAmplifiers = 216;

inline constexpr const char* kSetupFileNotFoundMessage = "Helix configuration file not found";
inline constexpr const char* kSetupFileWrongVersionMessage =
    "Helix configuration file incorrect version";
inline constexpr const char* kSetupCountCorruptMessage =
    "Configuration file amplifier count is corrupt";
inline constexpr const char* kSetupMismatchMessage =
    "Signal conditioner count does not match saved configuration";
inline constexpr const char* kNoAmplifiersMessage = "No Helix's detected";

struct SetupCheck {
  std::int32_t status = kSetupNotChecked;
  std::string message;     // empty for kSetupMatches
  std::vector<int> order;  // the saved order when the version is kSetupFileVersion, else current
};

// The setup check after bring-up: no amplifiers, no saved setup, a saved setup of another
// version, or the match above (which also decides the new order).
SetupCheck CheckSetup(int deviceCount, bool configurationFound, const SavedSetup& saved,
                      const std::vector<SerialField>& slotSerials,
                      const std::vector<int>& currentOrder);

}  // namespace torva
