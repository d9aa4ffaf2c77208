// Exported acquisition calls: start, stop, zero, tare, the settings sent to every amplifier, the
// data format, frame transfer and the dropped-sample counts.

#include <algorithm>
#include <cstring>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/export_guard.h"
#include "driver/api/selected_amplifier.h"

using torva::AmplifierParameterBlock;
using torva::CommandCode;
using torva::CThreadManager;
using torva::CurrentControl;
using torva::DeviceRuntimeBlock;
using torva::FrameAssembler;
using torva::FrameRing;
using namespace torva::api;

namespace {

constexpr int kMinRunMode = 0;
constexpr int kMaxRunMode = 4;
constexpr int kMinGenlock = 0;
constexpr int kMaxGenlock = 2;
constexpr int kMinRate = 10;
constexpr int kMaxRate = 3000;

// Copies at most one frame of `elementBytes`-byte values: a negative count copies nothing, an
// oversized one the whole frame.
void CopyFrame(void* destination, int bytes, const void* frame, int values, int elementBytes) {
  if (bytes <= 0) return;
  const auto limit = static_cast<std::size_t>(values) * static_cast<std::size_t>(elementBytes);
  std::memcpy(destination, frame, std::min(static_cast<std::size_t>(bytes), limit));
}

FrameRing* Ring() {
  CThreadManager* control = CurrentControl();
  return control ? &control->Assembler().Ring() : nullptr;
}

}  // namespace

extern "C" {

void fmBroadcastStart(void) try {
  if (CThreadManager* control = CurrentControl()) control->StartAcquisition();
} TORVA_EXPORT_GUARD()

void fmBroadcastStop(void) try {
  if (CThreadManager* control = CurrentControl()) control->StopAcquisition();
} TORVA_EXPORT_GUARD()

void fmBroadcastZero(void) try {
  if (CThreadManager* control = CurrentControl()) control->Broadcast(CommandCode::kZero);
} TORVA_EXPORT_GUARD()

void fmBroadcastTare(void) try {
  if (CThreadManager* control = CurrentControl()) control->Broadcast(CommandCode::kTare);
} TORVA_EXPORT_GUARD()

void fmBroadcastClearTare(void) try {
  if (CThreadManager* control = CurrentControl()) control->Broadcast(CommandCode::kClearTare);
} TORVA_EXPORT_GUARD()

void fmUpdateTare(void) try {
  RequestUpdate(&DeviceRuntimeBlock::tareValid, CommandCode::kReadTare);
} TORVA_EXPORT_GUARD()

int fmGetTare(int* values) try {
  return GetUpdated(&DeviceRuntimeBlock::tareValues, &DeviceRuntimeBlock::tareValid, values);
} TORVA_EXPORT_GUARD(0)

void fmBroadcastRunMode(int mode) try {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || mode < kMinRunMode || mode > kMaxRunMode) return;
  control->Setup().SetRunMode(mode);
  control->BroadcastSetting(&AmplifierParameterBlock::runMode, mode, CommandCode::kSetRunMode);
} TORVA_EXPORT_GUARD()

void fmSetRunMode(int mode) try {
  if (mode < kMinRunMode || mode > kMaxRunMode) return;
  SetField(&AmplifierParameterBlock::runMode, mode, CommandCode::kSetRunMode);
} TORVA_EXPORT_GUARD()

int fmDLLGetRunMode(void) try {
  CThreadManager* control = CurrentControl();
  return control ? control->Setup().Settings().runMode : 0;
} TORVA_EXPORT_GUARD(0)

int fmGetRunMode(void) try {
  return GetField(&AmplifierParameterBlock::runMode);
} TORVA_EXPORT_GUARD(0)

void fmBroadcastGenlock(int genlock) try {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || genlock < kMinGenlock || genlock > kMaxGenlock) return;
  control->Setup().SetGenlock(genlock);
  control->BroadcastSetting(&AmplifierParameterBlock::genlock, genlock, CommandCode::kSetGenlock);
} TORVA_EXPORT_GUARD()

int fmDLLGetGenlock(void) try {
  CThreadManager* control = CurrentControl();
  return control ? control->Setup().Settings().genlock : 0;
} TORVA_EXPORT_GUARD(0)

void fmBroadcastAcquisitionRate(int rate) try {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || rate < kMinRate || rate > kMaxRate) return;
  control->Setup().SetRate(rate);
  control->BroadcastSetting(&AmplifierParameterBlock::acquisitionRate, rate,
                            CommandCode::kSetAcquisitionRate);
} TORVA_EXPORT_GUARD()

int fmDLLGetAcquisitionRate(void) try {
  CThreadManager* control = CurrentControl();
  return control ? control->Setup().Settings().rate : 0;
} TORVA_EXPORT_GUARD(0)

int fmGetAcquisitionRate(void) try {
  return GetField(&AmplifierParameterBlock::acquisitionRate);
} TORVA_EXPORT_GUARD(0)

void fmDLLSetDataFormat(int format) try {
  CThreadManager* control = CurrentControl();
  // Only the three layouts exist; any other value changes nothing.
  if (control != nullptr && FrameAssembler::ValuesPerRecord(format) != 0)
    control->SetDataFormat(format);
} TORVA_EXPORT_GUARD()

int fmDLLTransferFloatData(float** frame) try {
  FrameRing* ring = Ring();
  if (ring == nullptr || frame == nullptr) return 0;
  const float* taken = nullptr;
  const int waiting = ring->TakeFloats(taken);
  if (waiting > 0) *frame = const_cast<float*>(taken);
  return waiting;
} TORVA_EXPORT_GUARD(0)

int fmDLLGetTheFloatDataLBVStyle(void* destination, int bytes) try {
  FrameRing* ring = Ring();
  if (ring == nullptr || destination == nullptr) return 0;
  const float* taken = nullptr;
  const int waiting = ring->TakeFloats(taken);
  if (waiting > 0) CopyFrame(destination, bytes, taken, ring->ValuesPerFrame(), sizeof(float));
  return waiting;
} TORVA_EXPORT_GUARD(0)

int fmDLLTransferLongData(int** frame) try {
  FrameRing* ring = Ring();
  if (ring == nullptr || frame == nullptr) return 0;
  const std::int32_t* taken = nullptr;
  if (ring->TakeLongs(taken) == 0) return 0;
  *frame = const_cast<std::int32_t*>(taken);
  return 1;
} TORVA_EXPORT_GUARD(0)

int fmDLLGetTheLongDataLBVStyle(void* destination, int bytes) try {
  FrameRing* ring = Ring();
  if (ring == nullptr || destination == nullptr) return 0;
  const std::int32_t* taken = nullptr;
  if (ring->TakeLongs(taken) == 0) return 0;
  CopyFrame(destination, bytes, taken, ring->ValuesPerFrame(), sizeof(std::int32_t));
  return 1;
} TORVA_EXPORT_GUARD(0)

int fmDLLTransferShortData(short** frame) try {
  FrameRing* ring = Ring();
  if (ring == nullptr || frame == nullptr) return 0;
  const std::int16_t* taken = nullptr;
  if (ring->TakeShorts(taken) == 0) return 0;
  *frame = const_cast<std::int16_t*>(taken);
  return 1;
} TORVA_EXPORT_GUARD(0)

int fmDLLGetTheShortDataLBVStyle(void* destination, int bytes) try {
  FrameRing* ring = Ring();
  if (ring == nullptr || destination == nullptr) return 0;
  const std::int16_t* taken = nullptr;
  if (ring->TakeShorts(taken) == 0) return 0;
  CopyFrame(destination, bytes, taken, ring->ValuesPerFrame(), sizeof(std::int16_t));
  return 1;
} TORVA_EXPORT_GUARD(0)

int fmDLLGetDroppedDataCount(void) try {
  CThreadManager* control = CurrentControl();
  if (control == nullptr) return 0;
  int total = 0;
  for (int slot = 0; slot < control->DeviceCount(); ++slot) total += control->Assembler().Dropped(slot);
  return total;
} TORVA_EXPORT_GUARD(0)

int fmDLLGetSavedFailureCountPerDevice(int slot) try {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || slot < 0 || slot >= control->DeviceCount()) return 0;
  return control->Assembler().Dropped(slot);
} TORVA_EXPORT_GUARD(0)

int fmDLLGetStopCommandFlag(void) try {
  CThreadManager* control = CurrentControl();
  return control ? control->StopCommandFlag() : 0;
} TORVA_EXPORT_GUARD(0)

}  // extern "C"
