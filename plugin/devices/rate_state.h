#pragma once
// What the detected plates allow together: the acquisition rates every supported plate accepts
// (the master list less each type's exclusions, strictly descending, never empty) and, per record
// of the detection, the auxiliary-word level that marks a hardware trigger on that plate (none for
// a record that is not supported). Logic only; the shared-configuration device guards it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Torva {

class RateState {
 public:
  RateState() { Reset(); }
  // The master list and no records.
  void Reset();
  // Adds the next record of a detection; false when its product type is not supported (product
  // type 0, an amplifier whose parameters were never read, included).
  bool Add(std::int32_t productType);

  const std::vector<std::uint32_t>& AllowedRates() const { return allowed_; }
  // The trigger level of record `record`; none for an unsupported record or one never added.
  std::optional<std::int32_t> TriggerLevel(std::size_t record) const;
  std::size_t Records() const { return levels_.size(); }
  // The allowed rate nearest to `requested`: an exact match, else the closer neighbour (a tie goes
  // to the lower one), the lowest below the list, the highest above it.
  std::uint32_t Reconcile(std::uint32_t requested) const;

 private:
  std::vector<std::uint32_t> allowed_;
  std::vector<std::optional<std::int32_t>> levels_;
};

// A rate text as the host holds it: plain decimal digits giving an unsigned 32-bit number.
// Nothing for anything else (empty, a sign, other characters, too large).
std::optional<std::uint32_t> ParseRate(const std::string& text);
// The message of a rate text that is not a number.
inline constexpr const char* kBadRateMessage =
    "bad lexical cast: source type value could not be interpreted as target";

}  // namespace Torva
