// Exported getters and setters of the selected amplifier's parameter block.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/selected_amplifier.h"
#include "driver/device/parameter_rules.h"

using torva::AmplifierParameterBlock;
using torva::CommandCode;
using torva::DeviceRuntimeBlock;
using namespace torva::api;

namespace {

using APB = AmplifierParameterBlock;

constexpr int kMaxGainSelection = 3;
constexpr int kMaxExcitationSelection = 2;

// Stores six selections, each clamped to 0..highest, and sends the command that carries them.
void SetSelections(std::int32_t (APB::*field)[6], const int* values, int highest,
                   CommandCode code) {
  if (values == nullptr) return;
  EditAndSend(code, [&](APB& parameters, DeviceRuntimeBlock&) {
    for (int i = 0; i < 6; ++i) (parameters.*field)[i] = std::clamp(values[i], 0, highest);
  });
}

}  // namespace

extern "C" {

void fmSetCurrentGains(int* values) {
  SetSelections(&APB::currentGains, values, kMaxGainSelection, CommandCode::kSetCurrentGains);
}
void fmGetCurrentGains(int* values) { GetField(&APB::currentGains, values); }

void fmSetCurrentExcitations(int* values) {
  SetSelections(&APB::currentExcitations, values, kMaxExcitationSelection,
                CommandCode::kSetCurrentExcitations);
}
void fmGetCurrentExcitations(int* values) { GetField(&APB::currentExcitations, values); }

void fmSetChannelOffsetsTable(float* values) {
  SetField(&APB::channelOffsets, values, CommandCode::kSetChannelOffsets);
}
void fmGetChannelOffsetsTable(float* values) { GetField(&APB::channelOffsets, values); }

void fmSetCableLength(float value) {
  SetField(&APB::cableLength, value, CommandCode::kSetCableLength);
}
float fmGetCableLength(void) { return GetField(&APB::cableLength); }

void fmSetMatrixMode(int mode) { SetField(&APB::matrixMode, mode, CommandCode::kSetMatrixMode); }
int fmGetMatrixMode(void) { return GetField(&APB::matrixMode); }

void fmSetPlatformRotation(float degrees) {
  // A NaN or infinite angle is no rotation, and the rotation code's conversion to integers would
  // be undefined for it: nothing is stored or sent.
  if (!std::isfinite(degrees)) return;
  bool smartPlate = false;
  EditAndSend(CommandCode::kSetRotation, [&](APB& parameters, DeviceRuntimeBlock&) {
    parameters.platformRotation = degrees;
    smartPlate = torva::IsSmartPlate(parameters.productType);
  });
  if (!smartPlate) return;
  const torva::RotationCode code = torva::ComputeRotationCode(degrees);
  EditAndSend(CommandCode::kSetRotationCode, [&](APB& parameters, DeviceRuntimeBlock&) {
    parameters.rotationCode[0] = code.quadrant;
    parameters.rotationCode[1] = code.cosine;
    parameters.rotationCode[2] = code.sine;
  });
}
float fmGetPlatformRotation(void) { return GetField(&APB::platformRotation); }

void fmUpdateMechanicalMaxAndMin(void) {
  RequestUpdate(&DeviceRuntimeBlock::mechanicalLimitsValid, CommandCode::kReadMechanicalLimits);
}
int fmGetMechanicalMaxAndMin(float* values) {
  return GetUpdated(&APB::mechanicalLimits, &DeviceRuntimeBlock::mechanicalLimitsValid, values);
}

void fmUpdateAnalogMaxAndMin(void) {
  RequestUpdate(&DeviceRuntimeBlock::analogLimitsValid, CommandCode::kReadAnalogLimits);
}
int fmGetAnalogMaxAndMin(float* values) {
  return GetUpdated(&APB::analogLimits, &DeviceRuntimeBlock::analogLimitsValid, values);
}

void fmUpdateAutozeroPots(void) {
  RequestUpdate(&DeviceRuntimeBlock::autozeroValid, CommandCode::kReadAutozeroPots);
}
int fmGetAutozeroPots(int* values) {
  return GetUpdated(&DeviceRuntimeBlock::autozeroPots, &DeviceRuntimeBlock::autozeroValid, values);
}

void fmSetProductType(int type) {
  SetField(&APB::productType, type, CommandCode::kSetProductType);
}
int fmGetProductType(void) { return GetField(&APB::productType); }

void fmGetAmplifierModelNumber(char* model) { GetField(&APB::amplifierModel, model); }
void fmGetAmplifierSerialNumber(char* serial) { GetField(&APB::amplifierSerial, serial); }

void fmGetAmplifierFirmwareVersion(char* version) {
  if (version == nullptr) return;
  ReadSelected(0, [&](const APB& parameters, const DeviceRuntimeBlock&) {
    torva::ComposeFirmwareVersion(parameters, version);
    return 0;
  });
}

void fmSetAmplifierDate(char* date) {
  SetField(&APB::amplifierDate, date, CommandCode::kSetAmplifierDate);
}
void fmGetAmplifierDate(char* date) { GetField(&APB::amplifierDate, date); }

void fmSetGainTable(float* values) {
  SetField(&APB::gainTable, values, CommandCode::kSetGainTable);
}
void fmGetGainTable(float* values) { GetField(&APB::gainTable, values); }

void fmSetExcitationTable(float* values) {
  SetField(&APB::excitationTable, values, CommandCode::kSetExcitationTable);
}
void fmGetExcitationTable(float* values) { GetField(&APB::excitationTable, values); }

void fmSetDACGainsTable(float* values) {
  SetField(&APB::dacGains, values, CommandCode::kSetDacGains);
}
void fmGetDACGainsTable(float* values) { GetField(&APB::dacGains, values); }

void fmSetDACOffsetTable(float* values) {
  SetField(&APB::dacOffsets, values, CommandCode::kSetDacOffsets);
}
void fmGetDACOffsetTable(float* values) { GetField(&APB::dacOffsets, values); }

void fmSetDACSensitivityTable(float* values) {
  SetField(&APB::dacSensitivities, values, CommandCode::kSetDacSensitivities);
}
void fmGetDACSensitivities(float* values) { GetField(&APB::dacSensitivities, values); }

void fmSetADRef(float value) { SetField(&APB::adReference, value, CommandCode::kSetADRef); }
float fmGetADRef(void) { return GetField(&APB::adReference); }

void fmSetPlatformDate(char* date) {
  SetField(&APB::platformDate, date, CommandCode::kSetPlatformDate);
}
void fmGetPlatformDate(char* date) { GetField(&APB::platformDate, date); }

void fmSetPlatformModelNumber(char* model) {
  SetField(&APB::platformModel, model, CommandCode::kSetPlatformModel);
}
void fmGetPlatformModelNumber(char* model) { GetField(&APB::platformModel, model); }

void fmSetPlatformSerialNumber(char* serial) {
  SetField(&APB::platformSerial, serial, CommandCode::kSetPlatformSerial);
}
void fmGetPlatformSerialNumber(char* serial) { GetField(&APB::platformSerial, serial); }

void fmSetPlatformLengthAndWidth(char* length, char* width) {
  if (length == nullptr || width == nullptr) return;
  SetField(&APB::platformLength, length, CommandCode::kSetPlatformLength);
  SetField(&APB::platformWidth, width, CommandCode::kSetPlatformWidth);
}
void fmGetPlatformLengthAndWidth(char* length, char* width) {
  if (length == nullptr || width == nullptr) return;
  GetField(&APB::platformLength, length);
  GetField(&APB::platformWidth, width);
}

void fmSetPlatformXYZOffsets(float* values) {
  SetField(&APB::platformOffsets, values, CommandCode::kSetXYZOffsets);
}
void fmGetPlatformXYZOffsets(float* values) { GetField(&APB::platformOffsets, values); }

void fmSetPlatformCapacity(float* values) {
  SetField(&APB::platformCapacity, values, CommandCode::kSetCapacity);
}
void fmGetPlatformCapacity(float* values) { GetField(&APB::platformCapacity, values); }

void fmSetPlatformBridgeResistance(float* values) {
  SetField(&APB::bridgeResistance, values, CommandCode::kSetBridgeResistance);
}
void fmGetPlatformBridgeResistance(float* values) { GetField(&APB::bridgeResistance, values); }

void fmSetInvertedSensitivityMatrix(float* values) {
  SetField(&APB::invertedSensitivity, values, CommandCode::kSetSensitivityMatrix);
}
void fmGetInvertedSensitivityMatrix(float* values) {
  GetField(&APB::invertedSensitivity, values);
}

int fmGetExcitationStatus(void) { return GetField(&APB::excitationStatus); }
int fmGetAmpliferMemoryStatus(void) { return GetField(&APB::memoryStatus); }

void fmRetrieveAllParams(void) { SendToSelected(CommandCode::kReadAllParameters); }

}  // extern "C"
