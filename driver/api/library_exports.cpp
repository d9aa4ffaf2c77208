// Library-level exported functions: initialisation, state, selection, the error record and the
// data-ready notification target.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/export_guard.h"
#include "driver/api/control_access.h"
#include "driver/device/device_runtime_block.h"

using torva::CurrentControl;
using torva::CUSBManager;

extern "C" {

int fmDLLGetVersionID(void) try { return TORVA_VERSION_ID; } TORVA_EXPORT_GUARD(0)

int fmDLLInit(void) try {
  return CUSBManager::Instance().Initialise() ? 1 : 0;
} TORVA_EXPORT_GUARD(0)

int fmDLLIsDeviceInitComplete(void) try {
  auto* control = CurrentControl();
  return control ? control->Progress().InitState() : 0;
} TORVA_EXPORT_GUARD(0)

int fmDLLSetupCheck(void) try {
  auto* control = CurrentControl();
  return control ? control->Setup().Status() : 0;
} TORVA_EXPORT_GUARD(0)

void fmDLLSetUSBPacketSize(int size) try {
  auto* control = CurrentControl();
  if (control && size == torva::kDefaultPacketSize) control->SetPacketSizeOfAll(size);
} TORVA_EXPORT_GUARD()

int fmDLLGetDeviceCount(void) try {
  auto* control = CurrentControl();
  return control ? control->DeviceCount() : 0;
} TORVA_EXPORT_GUARD(0)

void fmDLLSelectDeviceIndex(int position) try {
  if (auto* control = CurrentControl()) control->SelectPosition(position);
} TORVA_EXPORT_GUARD()

int fmDLLGetDeviceIndex(void) try {
  auto* control = CurrentControl();
  return control ? control->SelectedPosition() : 0;
} TORVA_EXPORT_GUARD(0)

int fmDLLShutDown(void) try {
  return CUSBManager::Instance().ShutDown() ? 1 : 0;
} TORVA_EXPORT_GUARD(0)

int fmIsDLLShutDown(void) try {
  return CUSBManager::Instance().IsShutDown() ? 1 : 0;
} TORVA_EXPORT_GUARD(0)

int fmDLLGetError(char* text) try {
  auto* control = CurrentControl();
  return control ? control->Errors().CopyTo(text) : 0;
} TORVA_EXPORT_GUARD(0)

int fmDebugEntry(void) try { return -1; } TORVA_EXPORT_GUARD(0)

// Excitation corrections are not kept by the amplifiers: both calls only echo the first value.
int fmSetExcCorrections(int* values) try {
  return CurrentControl() && values ? values[0] : 0;
} TORVA_EXPORT_GUARD(0)

int fmGetExcCorrections(int* values) try {
  return CurrentControl() && values ? values[0] : 0;
} TORVA_EXPORT_GUARD(0)

void fmDLLPostDataReadyMessages(int flag) try {
  CUSBManager::Instance().SetDataReadyFlag(flag);
} TORVA_EXPORT_GUARD()

void fmDLLPostUserThreadMessages(int threadIdentifier) try {
  if (auto* control = CurrentControl())
    control->Notifier().NotifyThread(static_cast<torva::platform::ThreadId>(threadIdentifier));
} TORVA_EXPORT_GUARD()

void fmDLLPostWindowMessages(TorvaWindowHandle window) try {
  if (auto* control = CurrentControl()) control->Notifier().NotifyWindow(window);
} TORVA_EXPORT_GUARD()

}  // extern "C"
