// Exported commands that service an amplifier rather than configure a measurement, and the
// commands that make settings permanent.

#include <algorithm>
#include <chrono>
#include <cstring>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/export_guard.h"
#include "driver/api/selected_amplifier.h"
#include "driver/device/amplifier_device.h"
#include "platform/sleep_clock.h"

using torva::AmplifierParameterBlock;
using torva::CommandCode;
using torva::CurrentControl;
using torva::DeviceRuntimeBlock;
using namespace torva::api;

namespace {

// The amplifier's boot loader takes one chunk at a time.
constexpr std::chrono::milliseconds kBootChunkInterval{300};
// Longest time a chunk may take to be sent and answered: three sends, each of which may wait
// out the control endpoint's 10 s time-out, and some margin.
constexpr std::chrono::milliseconds kBootChunkSendLimit{35000};

}  // namespace

extern "C" {

void fmResetSoftware(void) try { SendToSelected(CommandCode::kResetSoftware); } TORVA_EXPORT_GUARD()
void fmBroadcastResetSoftware(void) try {
  SendToEvery(CommandCode::kResetSoftware);
} TORVA_EXPORT_GUARD()
void fmSave(void) try { SendToSelected(CommandCode::kSave); } TORVA_EXPORT_GUARD()
void fmBroadcastSave(void) try { SendToEvery(CommandCode::kSave); } TORVA_EXPORT_GUARD()
void fmApplyLimited(void) try { SendToSelected(CommandCode::kApplyLimited); } TORVA_EXPORT_GUARD()

void fmSetBlink(void) try { SendToSelected(CommandCode::kBlink); } TORVA_EXPORT_GUARD()
void fmResetHardware(void) try { SendToSelected(CommandCode::kResetHardware); } TORVA_EXPORT_GUARD()
void fmSetCopyFactParam(void) try {
  SendToSelected(CommandCode::kCopyFactoryParameters);
} TORVA_EXPORT_GUARD()
void fmProgramExcitation(void) try {
  SendToSelected(CommandCode::kProgramExcitation);
} TORVA_EXPORT_GUARD()
void fmSetDacValuesOff(void) try { SendToSelected(CommandCode::kDacOff); } TORVA_EXPORT_GUARD()
void fmPrepareForBootLoad(void) try {
  SendToSelected(CommandCode::kPrepareBootLoad);
} TORVA_EXPORT_GUARD()

void fmSetDacValues(int value) try {
  EditAndSend(CommandCode::kSetDacValue,
              [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) { runtime.dacValue = value; });
} TORVA_EXPORT_GUARD()

int fmBroadcastResetUSB(void) try {
  torva::CThreadManager* control = CurrentControl();
  if (control == nullptr) return 0;
  const int count = control->DeviceCount();
  for (int position = 0; position < count; ++position)
    if (torva::CUSBDevice* device = control->Device(control->SlotAt(position)))
      device->ResetUsbDevice();
  return count;
} TORVA_EXPORT_GUARD(0)

void fmBootLoad(char* image, int bytes) try {
  torva::CThreadManager* control = CurrentControl();
  if (image == nullptr || bytes <= 0 || control == nullptr) return;
  torva::CUSBDevice* device = control->Device(control->SelectedSlot());
  if (device == nullptr) return;
  std::uint8_t chunk[torva::kBootChunkBytes] = {};
  for (int offset = 0; offset < bytes; offset += static_cast<int>(sizeof chunk)) {
    const int length = std::min(static_cast<int>(sizeof chunk), bytes - offset);
    // A shorter final chunk overwrites only its own bytes.
    std::memcpy(chunk, image + offset, static_cast<std::size_t>(length));
    EditAndSend(CommandCode::kBootChunk, [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
      std::memcpy(runtime.bootChunk, chunk, sizeof chunk);
      runtime.bootChunkLength = length;
    });
    torva::platform::PrescribedSleep(kBootChunkInterval);
    // The device sends the chunk from its copy of the records, which the next chunk replaces:
    // go on only once this one has been sent, or give up rather than lose a piece of the image.
    if (!device->WaitUntilQueueEmpty(kBootChunkSendLimit)) return;
  }
} TORVA_EXPORT_GUARD()

}  // extern "C"
