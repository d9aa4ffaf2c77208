#pragma once
// What a soak tolerates before it fails.

#include <cstddef>

namespace torva::soak {

// Resident memory is compared with the first sample at or after this many seconds, once start-up
// allocations have settled.
inline constexpr double kRssBaselineSeconds = 60;
// Growth allowed after that sample: the larger of this share of the baseline and this many bytes.
inline constexpr double kRssGrowthAllowedShare = 0.10;
inline constexpr std::size_t kRssGrowthAllowedBytes = std::size_t{8} << 20;
// Frames may lag the wall clock by this much (the last blocks on their way) without counting as
// lost; a stall longer than this fails the soak.
inline constexpr double kLagAllowanceSeconds = 1.0;
// How long the first frame may take after the start.
inline constexpr double kFirstFrameLimitSeconds = 30;

}  // namespace torva::soak
