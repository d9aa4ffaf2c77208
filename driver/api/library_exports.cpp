// Library-level exported functions: initialisation, state, selection, the error record and the
// data-ready notification target.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/control_access.h"
#include "driver/device/device_runtime_block.h"

using torva::CurrentControl;
using torva::CUSBManager;

extern "C" {

int fmDLLGetVersionID(void) { return TORVA_VERSION_ID; }

int fmDLLInit(void) { return CUSBManager::Instance().Initialise() ? 1 : 0; }

int fmDLLIsDeviceInitComplete(void) {
  auto* control = CurrentControl();
  return control ? control->DeviceInitState() : 0;
}

int fmDLLSetupCheck(void) {
  auto* control = CurrentControl();
  return control ? control->SetupStatus() : 0;
}

void fmDLLSetUSBPacketSize(int size) {
  auto* control = CurrentControl();
  if (control && size == torva::kDefaultPacketSize) control->SetPacketSizeOfAll(size);
}

int fmDLLGetDeviceCount(void) {
  auto* control = CurrentControl();
  return control ? control->DeviceCount() : 0;
}

void fmDLLSelectDeviceIndex(int position) {
  if (auto* control = CurrentControl()) control->SelectPosition(position);
}

int fmDLLGetDeviceIndex(void) {
  auto* control = CurrentControl();
  return control ? control->SelectedPosition() : 0;
}

int fmDLLShutDown(void) { return CUSBManager::Instance().ShutDown() ? 1 : 0; }

int fmIsDLLShutDown(void) { return CUSBManager::Instance().IsShutDown() ? 1 : 0; }

int fmDLLGetError(char* text) {
  auto* control = CurrentControl();
  return control ? control->Errors().CopyTo(text) : 0;
}

int fmDebugEntry(void) { return -1; }

// Excitation corrections are not kept by the amplifiers: both calls only echo the first value.
int fmSetExcCorrections(int* values) { return CurrentControl() && values ? values[0] : 0; }

int fmGetExcCorrections(int* values) { return CurrentControl() && values ? values[0] : 0; }

void fmDLLPostDataReadyMessages(int flag) { CUSBManager::Instance().SetDataReadyFlag(flag); }

void fmDLLPostUserThreadMessages(int threadIdentifier) {
  if (auto* control = CurrentControl())
    control->NotifyThread(static_cast<torva::platform::ThreadId>(threadIdentifier));
}

void fmDLLPostWindowMessages(TorvaWindowHandle window) {
  if (auto* control = CurrentControl()) control->NotifyWindow(window);
}

}  // extern "C"
