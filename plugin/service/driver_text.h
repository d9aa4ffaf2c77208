#pragma once
// Reading a text field from the driver library: the driver copies the whole field into the buffer
// and does not promise a terminating NUL, so the buffer is zero-filled, larger than any field, and
// the text is cut at the field's size.

#include <array>
#include <cstddef>
#include <cstring>
#include <string>

namespace Torva {

// Larger than any text field the driver library writes.
inline constexpr std::size_t kDriverTextBuffer = 256;
// Sizes of the driver's text fields.
inline constexpr std::size_t kSerialFieldBytes = 16;       // serials, amplifier model, firmware
inline constexpr std::size_t kPlatformModelFieldBytes = 28;
inline constexpr std::size_t kDimensionFieldBytes = 16;    // platform length and width

// The text `call` writes into a fresh buffer, cut at `fieldBytes` or at its first NUL.
template <typename Call>
std::string ReadDriverText(Call call, std::size_t fieldBytes) {
  std::array<char, kDriverTextBuffer> buffer{};
  call(buffer.data());
  return std::string(buffer.data(), strnlen(buffer.data(), fieldBytes));
}

}  // namespace Torva
