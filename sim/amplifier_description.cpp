#include "sim/amplifier_description.h"

#include <cstdio>

namespace torva::sim {
namespace {

constexpr std::int32_t kSmartPlateTypeA = 300;
constexpr std::int32_t kSmartPlateTypeB = 400;
constexpr double kMillimetresPerInch = 25.4;

struct PlateGeometry {
  const char* model;
  double lengthMm;
  double widthMm;
  double originDepthMm;  // the sensing origin lies this far below the top surface
};

PlateGeometry GeometryFor(std::int32_t productType) {
  switch (productType) {
    case kSmartPlateTypeA: return {"TV6050", 600.0, 500.0, 42.0};
    case kSmartPlateTypeB: return {"TV9060", 900.0, 600.0, 48.0};
    default: return {"TP6040", 600.0, 400.0, 40.0};
  }
}

// `prefix` followed by `value` written with at least `digits` digits.
std::string Numbered(const std::string& prefix, int value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", digits, value);
  return prefix + text;
}

}  // namespace

AmplifierDescription DescribeAmplifier(int index, std::int32_t productType) {
  AmplifierDescription d;
  const PlateGeometry plate = GeometryFor(productType);
  const bool smart = productType == kSmartPlateTypeA || productType == kSmartPlateTypeB;
  d.productType = productType;
  d.amplifierSerial = Numbered("TA6", 1201 + index, 5);
  d.platformSerial = Numbered(smart ? "V" : "P", 48311 + 7 * index, 6);
  d.platformModel = plate.model;
  d.productName = "Torva USB Amplifier";
  d.platformLengthInches = plate.lengthMm / kMillimetresPerInch;
  d.platformWidthInches = plate.widthMm / kMillimetresPerInch;
  // Each plate's origin sits a little off its geometric centre, differently for each.
  d.platformOffsets[0] = 0.012f * static_cast<float>(index % 5) - 0.02f;
  d.platformOffsets[1] = -0.009f * static_cast<float>(index % 3) + 0.01f;
  d.platformOffsets[2] = static_cast<float>(-plate.originDepthMm / kMillimetresPerInch);
  d.smartPlateStatus = static_cast<std::int32_t>(smart ? SmartPlateStatus::kCalibrated
                                                      : SmartPlateStatus::kNotSmart);
  d.firmwareVersion = "3.2." + std::to_string(14 + index % 3);
  d.bodyMassKg = 62.0 + 9.0 * (index % 4);
  d.noiseSeed = 0x9E3779B9u * static_cast<std::uint32_t>(index + 1);
  d.signal = SignalProfile::kWalkingTrial;
  return d;
}

}  // namespace torva::sim
