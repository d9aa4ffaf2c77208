#pragma once
// CRC-16/ARC (polynomial 0x8005 reflected, initial value 0, no final XOR), the check sum that ends
// every calibration stream sent to a smart plate. Check value: 0xBB3D over "123456789".

#include <cstddef>
#include <cstdint>

namespace torva {

inline constexpr std::uint16_t kCrc16ArcInitial = 0x0000;

// Continues `crc` over `length` bytes; start with kCrc16ArcInitial.
std::uint16_t Crc16Arc(const void* data, std::size_t length,
                       std::uint16_t crc = kCrc16ArcInitial);

}  // namespace torva
