#include "host/display_text.h"

#include <array>
#include <cstdint>

namespace torva::host {

namespace {

constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuationBits = 0x80;

// Windows-1252's characters for the bytes 0x80..0x9F; 0 where the code page leaves a byte unset
// (shown as U+FFFD). From 0xA0 on, byte and code point are the same.
constexpr std::array<std::uint16_t, 32> kHighControlRange = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
constexpr std::uint16_t kReplacementCharacter = 0xFFFD;
constexpr unsigned char kFirstPlainLatin1 = 0xA0;

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// Length of the UTF-8 sequence that `lead` starts and the smallest code point it may carry;
// 0 for a byte that starts none.
struct SequenceShape {
  int length;
  std::uint32_t smallest;
  std::uint32_t bits;
};
SequenceShape ShapeOf(unsigned char lead) {
  if (lead < kFirstNonAscii) return {1, 0, lead};
  if ((lead & 0xE0) == 0xC0) return {2, 0x80, lead & 0x1Fu};
  if ((lead & 0xF0) == 0xE0) return {3, 0x800, lead & 0x0Fu};
  if ((lead & 0xF8) == 0xF0) return {4, 0x10000, lead & 0x07u};
  return {0, 0, 0};
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  constexpr std::uint32_t kLastCodePoint = 0x10FFFF;
  constexpr std::uint32_t kFirstSurrogate = 0xD800;
  constexpr std::uint32_t kLastSurrogate = 0xDFFF;
  std::size_t index = 0;
  while (index < text.size()) {
    const SequenceShape shape = ShapeOf(static_cast<unsigned char>(text[index]));
    if (shape.length == 0 || index + shape.length > text.size()) return false;
    std::uint32_t codePoint = shape.bits;
    for (int follow = 1; follow < shape.length; ++follow) {
      const auto byte = static_cast<unsigned char>(text[index + follow]);
      if ((byte & kContinuationMask) != kContinuationBits) return false;
      codePoint = (codePoint << 6) | (byte & 0x3Fu);
    }
    if (codePoint < shape.smallest || codePoint > kLastCodePoint ||
        (codePoint >= kFirstSurrogate && codePoint <= kLastSurrogate)) {
      return false;
    }
    index += shape.length;
  }
  return true;
}

std::string DisplayText(const std::string& text) {
  if (IsValidUtf8(text)) return text;
  std::string out;
  out.reserve(text.size() * 2);
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte < kFirstNonAscii) {
      out.push_back(character);
    } else if (byte < kFirstPlainLatin1) {
      const std::uint16_t mapped = kHighControlRange[byte - kFirstNonAscii];
      AppendUtf8(out, mapped != 0 ? mapped : kReplacementCharacter);
    } else {
      AppendUtf8(out, byte);
    }
  }
  return out;
}

}  // namespace torva::host
