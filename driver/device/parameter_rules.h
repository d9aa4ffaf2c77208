#pragma once
// Rules that turn parameter values into what the amplifier or the caller sees: the firmware
// version text, the rotation code of smart plates, and which product types are smart plates.

#include <cstdint>

#include "driver/device/amplifier_parameter_block.h"

namespace torva {

// Product types of plates with on-board calibration memory.
inline constexpr std::int32_t kSmartPlateType300 = 300;
inline constexpr std::int32_t kSmartPlateType400 = 400;

constexpr bool IsSmartPlate(std::int32_t productType) {
  return productType == kSmartPlateType300 || productType == kSmartPlateType400;
}

// Quadrant code and the cosine and sine of the angle, each scaled by 32768.
struct RotationCode {
  std::int32_t quadrant;
  std::int32_t cosine;
  std::int32_t sine;
};

// The rotation code for an angle in degrees; angles below 0 or at or above 360 count as 0.
// Quadrant codes: 0, 1, 2, 3 for exactly 0, 90, 180, 270 degrees, 4 for any other angle.
RotationCode ComputeRotationCode(float degrees);

// Writes the firmware version text into a 16-byte buffer: the version, and "-" plus the suffix
// when both fit (with their terminator) in 16 bytes.
void ComposeFirmwareVersion(const AmplifierParameterBlock& parameters, char* out16);

}  // namespace torva
