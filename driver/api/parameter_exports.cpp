// Exported getters and setters of the selected amplifier's parameter block.

#include <algorithm>
#include <cmath>
#include <cstring>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/export_guard.h"
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

void fmSetCurrentGains(int* values) try {
  SetSelections(&APB::currentGains, values, kMaxGainSelection, CommandCode::kSetCurrentGains);
} TORVA_EXPORT_GUARD()
void fmGetCurrentGains(int* values) try {
  GetField(&APB::currentGains, values);
} TORVA_EXPORT_GUARD()

void fmSetCurrentExcitations(int* values) try {
  SetSelections(&APB::currentExcitations, values, kMaxExcitationSelection,
                CommandCode::kSetCurrentExcitations);
} TORVA_EXPORT_GUARD()
void fmGetCurrentExcitations(int* values) try {
  GetField(&APB::currentExcitations, values);
} TORVA_EXPORT_GUARD()

void fmSetChannelOffsetsTable(float* values) try {
  SetField(&APB::channelOffsets, values, CommandCode::kSetChannelOffsets);
} TORVA_EXPORT_GUARD()
void fmGetChannelOffsetsTable(float* values) try {
  GetField(&APB::channelOffsets, values);
} TORVA_EXPORT_GUARD()

void fmSetCableLength(float value) try {
  SetField(&APB::cableLength, value, CommandCode::kSetCableLength);
} TORVA_EXPORT_GUARD()
float fmGetCableLength(void) try { return GetField(&APB::cableLength); } TORVA_EXPORT_GUARD(0.0f)

void fmSetMatrixMode(int mode) try {
  SetField(&APB::matrixMode, mode, CommandCode::kSetMatrixMode);
} TORVA_EXPORT_GUARD()
int fmGetMatrixMode(void) try { return GetField(&APB::matrixMode); } TORVA_EXPORT_GUARD(0)

void fmSetPlatformRotation(float degrees) try {
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
} TORVA_EXPORT_GUARD()
float fmGetPlatformRotation(void) try {
  return GetField(&APB::platformRotation);
} TORVA_EXPORT_GUARD(0.0f)

void fmUpdateMechanicalMaxAndMin(void) try {
  RequestUpdate(&DeviceRuntimeBlock::mechanicalLimitsValid, CommandCode::kReadMechanicalLimits);
} TORVA_EXPORT_GUARD()
int fmGetMechanicalMaxAndMin(float* values) try {
  return GetUpdated(&APB::mechanicalLimits, &DeviceRuntimeBlock::mechanicalLimitsValid, values);
} TORVA_EXPORT_GUARD(0)

void fmUpdateAnalogMaxAndMin(void) try {
  RequestUpdate(&DeviceRuntimeBlock::analogLimitsValid, CommandCode::kReadAnalogLimits);
} TORVA_EXPORT_GUARD()
int fmGetAnalogMaxAndMin(float* values) try {
  return GetUpdated(&APB::analogLimits, &DeviceRuntimeBlock::analogLimitsValid, values);
} TORVA_EXPORT_GUARD(0)

void fmUpdateAutozeroPots(void) try {
  RequestUpdate(&DeviceRuntimeBlock::autozeroValid, CommandCode::kReadAutozeroPots);
} TORVA_EXPORT_GUARD()
int fmGetAutozeroPots(int* values) try {
  return GetUpdated(&DeviceRuntimeBlock::autozeroPots, &DeviceRuntimeBlock::autozeroValid, values);
} TORVA_EXPORT_GUARD(0)

void fmSetProductType(int type) try {
  SetField(&APB::productType, type, CommandCode::kSetProductType);
} TORVA_EXPORT_GUARD()
int fmGetProductType(void) try { return GetField(&APB::productType); } TORVA_EXPORT_GUARD(0)

void fmGetAmplifierModelNumber(char* model) try {
  GetField(&APB::amplifierModel, model);
} TORVA_EXPORT_GUARD()
void fmGetAmplifierSerialNumber(char* serial) try {
  GetField(&APB::amplifierSerial, serial);
} TORVA_EXPORT_GUARD()

void fmGetAmplifierFirmwareVersion(char* version) try {
  if (version == nullptr) return;
  ReadSelected(0, [&](const APB& parameters, const DeviceRuntimeBlock&) {
    torva::ComposeFirmwareVersion(parameters, version);
    return 0;
  });
} TORVA_EXPORT_GUARD()

void fmSetAmplifierDate(char* date) try {
  SetField(&APB::amplifierDate, date, CommandCode::kSetAmplifierDate);
} TORVA_EXPORT_GUARD()
void fmGetAmplifierDate(char* date) try {
  GetField(&APB::amplifierDate, date);
} TORVA_EXPORT_GUARD()

void fmSetGainTable(float* values) try {
  SetField(&APB::gainTable, values, CommandCode::kSetGainTable);
} TORVA_EXPORT_GUARD()
void fmGetGainTable(float* values) try { GetField(&APB::gainTable, values); } TORVA_EXPORT_GUARD()

void fmSetExcitationTable(float* values) try {
  SetField(&APB::excitationTable, values, CommandCode::kSetExcitationTable);
} TORVA_EXPORT_GUARD()
void fmGetExcitationTable(float* values) try {
  GetField(&APB::excitationTable, values);
} TORVA_EXPORT_GUARD()

void fmSetDACGainsTable(float* values) try {
  SetField(&APB::dacGains, values, CommandCode::kSetDacGains);
} TORVA_EXPORT_GUARD()
void fmGetDACGainsTable(float* values) try {
  GetField(&APB::dacGains, values);
} TORVA_EXPORT_GUARD()

void fmSetDACOffsetTable(float* values) try {
  SetField(&APB::dacOffsets, values, CommandCode::kSetDacOffsets);
} TORVA_EXPORT_GUARD()
void fmGetDACOffsetTable(float* values) try {
  GetField(&APB::dacOffsets, values);
} TORVA_EXPORT_GUARD()

void fmSetDACSensitivityTable(float* values) try {
  SetField(&APB::dacSensitivities, values, CommandCode::kSetDacSensitivities);
} TORVA_EXPORT_GUARD()
void fmGetDACSensitivities(float* values) try {
  GetField(&APB::dacSensitivities, values);
} TORVA_EXPORT_GUARD()

void fmSetADRef(float value) try {
  SetField(&APB::adReference, value, CommandCode::kSetADRef);
} TORVA_EXPORT_GUARD()
float fmGetADRef(void) try { return GetField(&APB::adReference); } TORVA_EXPORT_GUARD(0.0f)

void fmSetPlatformDate(char* date) try {
  SetField(&APB::platformDate, date, CommandCode::kSetPlatformDate);
} TORVA_EXPORT_GUARD()
void fmGetPlatformDate(char* date) try { GetField(&APB::platformDate, date); } TORVA_EXPORT_GUARD()

void fmSetPlatformModelNumber(char* model) try {
  SetField(&APB::platformModel, model, CommandCode::kSetPlatformModel);
} TORVA_EXPORT_GUARD()
void fmGetPlatformModelNumber(char* model) try {
  GetField(&APB::platformModel, model);
} TORVA_EXPORT_GUARD()

void fmSetPlatformSerialNumber(char* serial) try {
  SetField(&APB::platformSerial, serial, CommandCode::kSetPlatformSerial);
} TORVA_EXPORT_GUARD()
void fmGetPlatformSerialNumber(char* serial) try {
  GetField(&APB::platformSerial, serial);
} TORVA_EXPORT_GUARD()

void fmSetPlatformLengthAndWidth(char* length, char* width) try {
  if (length == nullptr || width == nullptr) return;
  SetField(&APB::platformLength, length, CommandCode::kSetPlatformLength);
  SetField(&APB::platformWidth, width, CommandCode::kSetPlatformWidth);
} TORVA_EXPORT_GUARD()
void fmGetPlatformLengthAndWidth(char* length, char* width) try {
  if (length == nullptr || width == nullptr) return;
  GetField(&APB::platformLength, length);
  GetField(&APB::platformWidth, width);
} TORVA_EXPORT_GUARD()

void fmSetPlatformXYZOffsets(float* values) try {
  SetField(&APB::platformOffsets, values, CommandCode::kSetXYZOffsets);
} TORVA_EXPORT_GUARD()
void fmGetPlatformXYZOffsets(float* values) try {
  GetField(&APB::platformOffsets, values);
} TORVA_EXPORT_GUARD()

void fmSetPlatformCapacity(float* values) try {
  SetField(&APB::platformCapacity, values, CommandCode::kSetCapacity);
} TORVA_EXPORT_GUARD()
void fmGetPlatformCapacity(float* values) try {
  GetField(&APB::platformCapacity, values);
} TORVA_EXPORT_GUARD()

void fmSetPlatformBridgeResistance(float* values) try {
  SetField(&APB::bridgeResistance, values, CommandCode::kSetBridgeResistance);
} TORVA_EXPORT_GUARD()
void fmGetPlatformBridgeResistance(float* values) try {
  GetField(&APB::bridgeResistance, values);
} TORVA_EXPORT_GUARD()

void fmSetInvertedSensitivityMatrix(float* values) try {
  SetField(&APB::invertedSensitivity, values, CommandCode::kSetSensitivityMatrix);
} TORVA_EXPORT_GUARD()
void fmGetInvertedSensitivityMatrix(float* values) try {
  GetField(&APB::invertedSensitivity, values);
} TORVA_EXPORT_GUARD()

int fmGetExcitationStatus(void) try {
  return GetField(&APB::excitationStatus);
} TORVA_EXPORT_GUARD(0)
int fmGetAmpliferMemoryStatus(void) try {
  return GetField(&APB::memoryStatus);
} TORVA_EXPORT_GUARD(0)

void fmRetrieveAllParams(void) try {
  SendToSelected(CommandCode::kReadAllParameters);
} TORVA_EXPORT_GUARD()

}  // extern "C"
