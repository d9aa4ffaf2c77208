#include "sim/parameter_memory.h"

#include <cstdio>
#include <cstring>

namespace torva::sim {
namespace {

// Capacities: shear and vertical forces in newtons, moments in newton-metres.
constexpr float kShearCapacity = 4450.0f;
constexpr float kVerticalCapacity = 8900.0f;
constexpr float kMomentCapacity = 2250.0f;
constexpr float kFreeMomentCapacity = 1100.0f;
constexpr float kGainSteps[] = {500.0f, 1000.0f, 2000.0f, 4000.0f};       // 4 gains per channel
constexpr float kExcitationVolts[] = {2.5f, 5.0f, 10.0f};                 // 3 per channel
constexpr float kBridgeOhms = 350.0f;
constexpr float kAdReferenceVolts = 2.5f;
constexpr float kCableLengthMetres = 6.0f;
constexpr float kAnalogLimitVolts = 10.0f;
constexpr std::int32_t kDefaultGainSelection = 2;
constexpr std::int32_t kDefaultExcitationSelection = 1;
constexpr std::int32_t kMemoryOk = 1;
constexpr std::int32_t kExcitationOk = 1;
constexpr std::size_t kChannels = 6;
constexpr std::int32_t kRotationUnit = 32768;  // cosine and sine of the rotation code are scaled by this

std::string Inches(double value) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

AmplifierParameterBlock BuildParameterMemory(const AmplifierDescription& description) {
  AmplifierParameterBlock m;
  std::memset(&m, 0, sizeof m);
  SetTextField(m.firmwareVersion, description.firmwareVersion);
  SetTextField(m.amplifierModel, description.amplifierModel);
  SetTextField(m.amplifierSerial, description.amplifierSerial);
  SetTextField(m.amplifierDate, "2023-04-18");
  SetTextField(m.firmwareSuffix, description.firmwareSuffix);
  SetTextField(m.platformModel, description.platformModel);
  SetTextField(m.platformSerial, description.platformSerial);
  SetTextField(m.platformLength, Inches(description.platformLengthInches));
  SetTextField(m.platformWidth, Inches(description.platformWidthInches));
  SetTextField(m.platformDate, "2023-03-02");

  const float capacity[kChannels] = {kShearCapacity,  kShearCapacity,  kVerticalCapacity,
                                     kMomentCapacity, kMomentCapacity, kFreeMomentCapacity};
  // A distinct seed per amplifier shifts the calibration a little, as real plates differ.
  const float trim = 1.0f + 0.001f * static_cast<float>(description.noiseSeed % 17);
  for (std::size_t c = 0; c < kChannels; ++c) {
    m.platformCapacity[c] = capacity[c];
    m.invertedSensitivity[c * kChannels + c] = 0.0651f * trim * (c < 3 ? 1.0f : 0.25f);
    m.bridgeResistance[c] = kBridgeOhms;
    m.dacGains[c] = 1.0f;
    m.dacSensitivities[c] = 1.0f / capacity[c];
    m.mechanicalLimits[c] = capacity[c];
    m.mechanicalLimits[kChannels + c] = -capacity[c];
    m.analogLimits[c] = kAnalogLimitVolts;
    m.analogLimits[kChannels + c] = -kAnalogLimitVolts;
    m.currentGains[c] = kDefaultGainSelection;
    m.currentExcitations[c] = kDefaultExcitationSelection;
    for (std::size_t g = 0; g < std::size(kGainSteps); ++g) {
      m.gainTable[g * kChannels + c] = kGainSteps[g];
    }
    for (std::size_t e = 0; e < std::size(kExcitationVolts); ++e) {
      m.excitationTable[e * kChannels + c] = kExcitationVolts[e];
    }
  }
  // The strongest cross-talk of a real plate: shear forces leak into the moments about them.
  m.invertedSensitivity[3 * kChannels + 1] = -0.0012f;
  m.invertedSensitivity[4 * kChannels + 0] = 0.0011f;

  for (std::size_t axis = 0; axis < 3; ++axis) {
    m.platformOffsets[axis] = description.platformOffsets[axis];
  }
  m.adReference = kAdReferenceVolts;
  m.cableLength = kCableLengthMetres;
  m.rotationCode[1] = kRotationUnit;  // not rotated: quadrant code 0, cosine 1, sine 0
  m.productType = description.productType;
  m.acquisitionRate = description.acquisitionRate;
  m.excitationStatus = kExcitationOk;
  m.smartPlateStatus = description.smartPlateStatus;
  m.memoryStatus = kMemoryOk;
  return m;
}

}  // namespace torva::sim
