#pragma once
// Mirror of one amplifier's parameter memory. The layout is a wire format: it is the payload of
// the reply to ReadAllParameters, and every setter command carries one slice of it. Little-endian,
// IEEE-754 single floats, NUL-padded text fields.

#include <cstddef>
#include <cstdint>

namespace torva {

inline constexpr std::size_t kAmplifierParameterBlockBytes = 908;

#pragma pack(push, 1)
struct AmplifierParameterBlock {
  char firmwareVersion[16];          // read only
  char amplifierModel[16];           // read only
  char amplifierSerial[16];          // read only
  char amplifierDate[12];            // SetAmplifierDate
  char firmwareSuffix[16];           // read only
  char platformModel[28];            // SetPlatformModel
  char platformSerial[16];           // SetPlatformSerial
  char platformLength[16];           // SetPlatformLength, inches as text
  char platformWidth[16];            // SetPlatformWidth, inches as text
  char platformDate[12];             // SetPlatformDate
  float platformCapacity[6];         // SetCapacity
  float platformOffsets[3];          // SetXYZOffsets: X, Y, Z in inches
  float invertedSensitivity[36];     // SetSensitivityMatrix, 6 x 6
  float adReference;                 // SetADRef
  float cableLength;                 // SetCableLength
  float reserved352;
  float platformRotation;            // SetRotation, degrees
  float gainTable[24];               // SetGainTable
  float excitationTable[18];         // SetExcitationTable
  float channelOffsets[6];           // SetChannelOffsets
  float mechanicalLimits[12];        // ReadMechanicalLimits (maximum and minimum)
  float dacGains[6];                 // SetDacGains
  float dacOffsets[6];               // SetDacOffsets
  float dacSensitivities[6];         // SetDacSensitivities
  float analogLimits[12];            // ReadAnalogLimits (maximum and minimum)
  float bridgeResistance[6];         // SetBridgeResistance
  std::int32_t productType;          // SetProductType: 100, 300, 400, ...
  std::uint8_t reserved748[56];
  std::int32_t downloadStatus[4];    // ReadDownloadStatus: smart-plate status block
  std::int32_t matrixMode;           // SetMatrixMode
  std::int32_t runMode;              // SetRunMode, 0..4
  std::int32_t genlock;              // SetGenlock, 0..2
  std::int32_t acquisitionRate;      // SetAcquisitionRate, 10..3000 samples/s
  std::int32_t currentExcitations[6];  // SetCurrentExcitations, 0..2 per channel
  std::int32_t currentGains[6];      // SetCurrentGains, 0..3 per channel
  std::int32_t rotationCode[3];      // SetRotationCode: quadrant, cos x 32768, sin x 32768
  std::int32_t excitationStatus;     // read only
  std::int32_t smartPlateStatus;     // read only
  std::int32_t memoryStatus;         // read only
};
#pragma pack(pop)

static_assert(sizeof(AmplifierParameterBlock) == kAmplifierParameterBlockBytes);
static_assert(offsetof(AmplifierParameterBlock, amplifierDate) == 48);
static_assert(offsetof(AmplifierParameterBlock, firmwareSuffix) == 60);
static_assert(offsetof(AmplifierParameterBlock, platformModel) == 76);
static_assert(offsetof(AmplifierParameterBlock, platformSerial) == 104);
static_assert(offsetof(AmplifierParameterBlock, platformLength) == 120);
static_assert(offsetof(AmplifierParameterBlock, platformWidth) == 136);
static_assert(offsetof(AmplifierParameterBlock, platformDate) == 152);
static_assert(offsetof(AmplifierParameterBlock, platformCapacity) == 164);
static_assert(offsetof(AmplifierParameterBlock, platformOffsets) == 188);
static_assert(offsetof(AmplifierParameterBlock, invertedSensitivity) == 200);
static_assert(offsetof(AmplifierParameterBlock, adReference) == 344);
static_assert(offsetof(AmplifierParameterBlock, cableLength) == 348);
static_assert(offsetof(AmplifierParameterBlock, platformRotation) == 356);
static_assert(offsetof(AmplifierParameterBlock, gainTable) == 360);
static_assert(offsetof(AmplifierParameterBlock, excitationTable) == 456);
static_assert(offsetof(AmplifierParameterBlock, channelOffsets) == 528);
static_assert(offsetof(AmplifierParameterBlock, mechanicalLimits) == 552);
static_assert(offsetof(AmplifierParameterBlock, dacGains) == 600);
static_assert(offsetof(AmplifierParameterBlock, dacOffsets) == 624);
static_assert(offsetof(AmplifierParameterBlock, dacSensitivities) == 648);
static_assert(offsetof(AmplifierParameterBlock, analogLimits) == 672);
static_assert(offsetof(AmplifierParameterBlock, bridgeResistance) == 720);
static_assert(offsetof(AmplifierParameterBlock, productType) == 744);
static_assert(offsetof(AmplifierParameterBlock, downloadStatus) == 804);
static_assert(offsetof(AmplifierParameterBlock, matrixMode) == 820);
static_assert(offsetof(AmplifierParameterBlock, runMode) == 824);
static_assert(offsetof(AmplifierParameterBlock, genlock) == 828);
static_assert(offsetof(AmplifierParameterBlock, acquisitionRate) == 832);
static_assert(offsetof(AmplifierParameterBlock, currentExcitations) == 836);
static_assert(offsetof(AmplifierParameterBlock, currentGains) == 860);
static_assert(offsetof(AmplifierParameterBlock, rotationCode) == 884);
static_assert(offsetof(AmplifierParameterBlock, excitationStatus) == 896);
static_assert(offsetof(AmplifierParameterBlock, smartPlateStatus) == 900);
static_assert(offsetof(AmplifierParameterBlock, memoryStatus) == 904);

}  // namespace torva
