#pragma once
// The acquisition settings record: one for the whole library, written by the rate, run-mode and
// genlock broadcasts and by reading the saved setup.

#include <cstdint>

namespace torva {

inline constexpr std::int32_t kDefaultAcquisitionRate = 1000;

struct AcquisitionSettings {
  std::int32_t version = 0;  // version of the saved setup it was read from; 0 until then
  std::int32_t savedCount = 0;
  std::int32_t rate = kDefaultAcquisitionRate;
  std::int32_t runMode = 0;
  std::int32_t genlock = 0;
};

}  // namespace torva
