// Exported acquisition calls: start, stop, zero, tare, the settings sent to every amplifier, the
// data format, frame transfer and the dropped-sample counts.

#include <algorithm>
#include <cstring>

#include "driver/api/TorvaUSBDevice.h"
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

void fmBroadcastStart(void) {
  if (CThreadManager* control = CurrentControl()) control->StartAcquisition();
}

void fmBroadcastStop(void) {
  if (CThreadManager* control = CurrentControl()) control->StopAcquisition();
}

void fmBroadcastZero(void) {
  if (CThreadManager* control = CurrentControl()) control->Broadcast(CommandCode::kZero);
}

void fmBroadcastTare(void) {
  if (CThreadManager* control = CurrentControl()) control->Broadcast(CommandCode::kTare);
}

void fmBroadcastClearTare(void) {
  if (CThreadManager* control = CurrentControl()) control->Broadcast(CommandCode::kClearTare);
}

void fmUpdateTare(void) {
  RequestUpdate(&DeviceRuntimeBlock::tareValid, CommandCode::kReadTare);
}

int fmGetTare(int* values) {
  return GetUpdated(&DeviceRuntimeBlock::tareValues, &DeviceRuntimeBlock::tareValid, values);
}

void fmBroadcastRunMode(int mode) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || mode < kMinRunMode || mode > kMaxRunMode) return;
  control->MutableSettings().runMode = mode;
  control->BroadcastSetting(&AmplifierParameterBlock::runMode, mode, CommandCode::kSetRunMode);
}

void fmSetRunMode(int mode) {
  if (mode < kMinRunMode || mode > kMaxRunMode) return;
  SetField(&AmplifierParameterBlock::runMode, mode, CommandCode::kSetRunMode);
}

int fmDLLGetRunMode(void) {
  CThreadManager* control = CurrentControl();
  return control ? control->Settings().runMode : 0;
}

int fmGetRunMode(void) { return GetField(&AmplifierParameterBlock::runMode); }

void fmBroadcastGenlock(int genlock) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || genlock < kMinGenlock || genlock > kMaxGenlock) return;
  control->MutableSettings().genlock = genlock;
  control->BroadcastSetting(&AmplifierParameterBlock::genlock, genlock, CommandCode::kSetGenlock);
}

int fmDLLGetGenlock(void) {
  CThreadManager* control = CurrentControl();
  return control ? control->Settings().genlock : 0;
}

void fmBroadcastAcquisitionRate(int rate) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || rate < kMinRate || rate > kMaxRate) return;
  control->MutableSettings().rate = rate;
  control->BroadcastSetting(&AmplifierParameterBlock::acquisitionRate, rate,
                            CommandCode::kSetAcquisitionRate);
}

int fmDLLGetAcquisitionRate(void) {
  CThreadManager* control = CurrentControl();
  return control ? control->Settings().rate : 0;
}

int fmGetAcquisitionRate(void) { return GetField(&AmplifierParameterBlock::acquisitionRate); }

void fmDLLSetDataFormat(int format) {
  CThreadManager* control = CurrentControl();
  // Only the three layouts exist; any other value changes nothing.
  if (control != nullptr && FrameAssembler::ValuesPerRecord(format) != 0)
    control->SetDataFormat(format);
}

int fmDLLTransferFloatData(float** frame) {
  FrameRing* ring = Ring();
  if (ring == nullptr || frame == nullptr) return 0;
  const float* taken = nullptr;
  const int waiting = ring->TakeFloats(taken);
  if (waiting > 0) *frame = const_cast<float*>(taken);
  return waiting;
}

int fmDLLGetTheFloatDataLBVStyle(void* destination, int bytes) {
  FrameRing* ring = Ring();
  if (ring == nullptr || destination == nullptr) return 0;
  const float* taken = nullptr;
  const int waiting = ring->TakeFloats(taken);
  if (waiting > 0) CopyFrame(destination, bytes, taken, ring->ValuesPerFrame(), sizeof(float));
  return waiting;
}

int fmDLLTransferLongData(int** frame) {
  FrameRing* ring = Ring();
  if (ring == nullptr || frame == nullptr) return 0;
  const std::int32_t* taken = nullptr;
  if (ring->TakeLongs(taken) == 0) return 0;
  *frame = const_cast<std::int32_t*>(taken);
  return 1;
}

int fmDLLGetTheLongDataLBVStyle(void* destination, int bytes) {
  FrameRing* ring = Ring();
  if (ring == nullptr || destination == nullptr) return 0;
  const std::int32_t* taken = nullptr;
  if (ring->TakeLongs(taken) == 0) return 0;
  CopyFrame(destination, bytes, taken, ring->ValuesPerFrame(), sizeof(std::int32_t));
  return 1;
}

int fmDLLTransferShortData(short** frame) {
  FrameRing* ring = Ring();
  if (ring == nullptr || frame == nullptr) return 0;
  const std::int16_t* taken = nullptr;
  if (ring->TakeShorts(taken) == 0) return 0;
  *frame = const_cast<std::int16_t*>(taken);
  return 1;
}

int fmDLLGetTheShortDataLBVStyle(void* destination, int bytes) {
  FrameRing* ring = Ring();
  if (ring == nullptr || destination == nullptr) return 0;
  const std::int16_t* taken = nullptr;
  if (ring->TakeShorts(taken) == 0) return 0;
  CopyFrame(destination, bytes, taken, ring->ValuesPerFrame(), sizeof(std::int16_t));
  return 1;
}

int fmDLLGetDroppedDataCount(void) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr) return 0;
  int total = 0;
  for (int slot = 0; slot < control->DeviceCount(); ++slot) total += control->Assembler().Dropped(slot);
  return total;
}

int fmDLLGetSavedFailureCountPerDevice(int slot) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr || slot < 0 || slot >= control->DeviceCount()) return 0;
  return control->Assembler().Dropped(slot);
}

int fmDLLGetStopCommandFlag(void) {
  CThreadManager* control = CurrentControl();
  return control ? control->StopCommandFlag() : 0;
}

}  // extern "C"
