// Exported commands that service an amplifier rather than configure a measurement, and the
// commands that make settings permanent.

#include <algorithm>
#include <chrono>
#include <cstring>

#include "driver/api/TorvaUSBDevice.h"
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

void fmResetSoftware(void) { SendToSelected(CommandCode::kResetSoftware); }
void fmBroadcastResetSoftware(void) { SendToEvery(CommandCode::kResetSoftware); }
void fmSave(void) { SendToSelected(CommandCode::kSave); }
void fmBroadcastSave(void) { SendToEvery(CommandCode::kSave); }
void fmApplyLimited(void) { SendToSelected(CommandCode::kApplyLimited); }

void fmSetBlink(void) { SendToSelected(CommandCode::kBlink); }
void fmResetHardware(void) { SendToSelected(CommandCode::kResetHardware); }
void fmSetCopyFactParam(void) { SendToSelected(CommandCode::kCopyFactoryParameters); }
void fmProgramExcitation(void) { SendToSelected(CommandCode::kProgramExcitation); }
void fmSetDacValuesOff(void) { SendToSelected(CommandCode::kDacOff); }
void fmPrepareForBootLoad(void) { SendToSelected(CommandCode::kPrepareBootLoad); }

void fmSetDacValues(int value) {
  EditAndSend(CommandCode::kSetDacValue,
              [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) { runtime.dacValue = value; });
}

int fmBroadcastResetUSB(void) {
  torva::CThreadManager* control = CurrentControl();
  if (control == nullptr) return 0;
  const int count = control->DeviceCount();
  for (int position = 0; position < count; ++position)
    if (torva::CUSBDevice* device = control->Device(control->SlotAt(position)))
      device->ResetUsbDevice();
  return count;
}

void fmBootLoad(char* image, int bytes) {
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
}

}  // extern "C"
