#pragma once
// The byte order of the C3D files torva-host writes: Intel, that is little-endian 16-bit integers
// and IEEE 754 single-precision floats. That is also this host's own order (checked when
// compiling), so values are copied byte for byte as they lie in memory.
//
// Threads: none; plain functions.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace torva::host::analysis {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "C3D files are written in Intel byte order, which must be the host's own");
static_assert(std::numeric_limits<float>::is_iec559, "C3D floats are IEEE 754 single precision");

// Every section of a C3D file is a whole number of blocks of this size.
inline constexpr std::size_t kC3dBlockBytes = 512;

// The bytes of a value as the file holds them.
template <typename Value>
std::vector<std::uint8_t> C3dBytes(const Value& value) {
  static_assert(std::is_trivially_copyable_v<Value>);
  std::vector<std::uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

template <typename Value>
void AppendC3dBytes(std::vector<std::uint8_t>& out, const Value& value) {
  static_assert(std::is_trivially_copyable_v<Value>);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}

// Overwrites the bytes at `offset`, which the caller knows to lie inside `out`.
template <typename Value>
void StoreC3dBytes(std::vector<std::uint8_t>& out, std::size_t offset, const Value& value) {
  static_assert(std::is_trivially_copyable_v<Value>);
  std::memcpy(out.data() + offset, &value, sizeof value);
}

}  // namespace torva::host::analysis
