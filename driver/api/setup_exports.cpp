// Exported calls around the saved setup: the setup check, saving, refresh and counting the
// amplifiers on the bus.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/export_guard.h"
#include "driver/api/control_access.h"
#include "driver/control/device_count.h"

using torva::CThreadManager;
using torva::CurrentControl;

extern "C" {

int fmDLLSaveConfiguration(void) try {
  CThreadManager* control = CurrentControl();
  return control && control->SaveConfiguration() ? 1 : 0;
} TORVA_EXPORT_GUARD(0)

void fmRefreshDLL(void) try {
  if (CThreadManager* control = CurrentControl()) control->Refresh();
} TORVA_EXPORT_GUARD()

int fmIsDLLRefreshComplete(void) try {
  CThreadManager* control = CurrentControl();
  return control ? control->Progress().RefreshComplete() : 0;
} TORVA_EXPORT_GUARD(0)

int fmDLLConfurmDeviceCount(void) try {
  return torva::CountAttachedAmplifiers();
} TORVA_EXPORT_GUARD(0)

}  // extern "C"
