#include "driver/device/crc16_arc.h"

namespace torva {
namespace {

// 0x8005 with its bits reversed: the register shifts right, least significant bit first.
constexpr std::uint16_t kReflectedPolynomial = 0xA001;
constexpr int kBitsPerByte = 8;

}  // namespace

std::uint16_t Crc16Arc(const void* data, std::size_t length, std::uint16_t crc) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ bytes[i]);
    for (int bit = 0; bit < kBitsPerByte; ++bit) {
      const bool carry = (crc & 1u) != 0;
      crc = static_cast<std::uint16_t>(crc >> 1);
      if (carry) crc = static_cast<std::uint16_t>(crc ^ kReflectedPolynomial);
    }
  }
  return crc;
}

}  // namespace torva
