// Exported calls around the saved setup: the setup check, saving, refresh and counting the
// amplifiers on the bus.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/control_access.h"
#include "driver/control/device_count.h"

using torva::CThreadManager;
using torva::CurrentControl;

extern "C" {

int fmDLLSaveConfiguration(void) {
  CThreadManager* control = CurrentControl();
  return control && control->SaveConfiguration() ? 1 : 0;
}

void fmRefreshDLL(void) {
  if (CThreadManager* control = CurrentControl()) control->Refresh();
}

int fmIsDLLRefreshComplete(void) {
  CThreadManager* control = CurrentControl();
  return control ? control->RefreshComplete() : 0;
}

int fmDLLConfurmDeviceCount(void) { return torva::CountAttachedAmplifiers(); }

}  // extern "C"
