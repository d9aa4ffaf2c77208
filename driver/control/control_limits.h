#pragma once
// Sizes that bound the control thread's tables.

namespace torva {

// Amplifiers one library can serve; slots are 0..kMaxAmplifiers-1.
inline constexpr int kMaxAmplifiers = 25;
// Entries of the frame ring and of each device's data ring.
inline constexpr int kRingEntries = 625;
// Bytes of the error text, NUL included, and of the configuration directory.
inline constexpr int kErrorTextBytes = 260;
inline constexpr int kPathBytes = 260;

}  // namespace torva
