#include "driver/device/parameter_rules.h"

#include <cmath>
#include <cstring>

namespace torva {
namespace {

constexpr double kRotationScale = 32768.0;
constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kVersionTextBytes = 16;

// Length of a fixed-size text field up to its first NUL.
template <std::size_t N>
std::size_t FieldLength(const char (&field)[N]) {
  const void* nul = std::memchr(field, '\0', N);
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : N;
}

}  // namespace

RotationCode ComputeRotationCode(float degrees) {
  const double angle = degrees < 0.0f || degrees >= 360.0f ? 0.0 : static_cast<double>(degrees);
  RotationCode code{};
  if (angle == 0.0)
    code.quadrant = 0;
  else if (angle == 90.0)
    code.quadrant = 1;
  else if (angle == 180.0)
    code.quadrant = 2;
  else if (angle == 270.0)
    code.quadrant = 3;
  else
    code.quadrant = 4;
  const double radians = angle * kPi / 180.0;
  code.cosine = static_cast<std::int32_t>(std::cos(radians) * kRotationScale);
  code.sine = static_cast<std::int32_t>(std::sin(radians) * kRotationScale);
  return code;
}

void ComposeFirmwareVersion(const AmplifierParameterBlock& parameters, char* out16) {
  std::memcpy(out16, parameters.firmwareVersion, kVersionTextBytes);
  const std::size_t version = FieldLength(parameters.firmwareVersion);
  const std::size_t suffix = FieldLength(parameters.firmwareSuffix);
  if (version + suffix + 1 > kVersionTextBytes - 1) return;
  out16[version] = '-';
  std::memcpy(out16 + version + 1, parameters.firmwareSuffix, suffix);
  out16[version + 1 + suffix] = '\0';
}

}  // namespace torva
