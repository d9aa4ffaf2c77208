#pragma once
// Byte forms written out in tests: literal bytes joined with texts in their length-prefixed form.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace torva::host::test {

using Bytes = std::vector<std::uint8_t>;

// The parts one after another.
inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// A text as the byte form holds it: 4-byte little-endian length, then its bytes.
inline Bytes Sized(const std::string& text) {
  const auto length = static_cast<std::uint32_t>(text.size());
  Bytes bytes;
  bytes.reserve(4 + text.size());
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<std::uint8_t>(length >> shift));
  }
  for (const char character : text) bytes.push_back(static_cast<std::uint8_t>(character));
  return bytes;
}

// The most negative and most positive finite doubles, little-endian: a new double's limits.
inline const Bytes kLowestDouble{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xFF};
inline const Bytes kHighestDouble{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x7F};

}  // namespace torva::host::test
