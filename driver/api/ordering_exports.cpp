// Exported platform-order calls.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/control_access.h"

using torva::CThreadManager;
using torva::CurrentControl;

extern "C" {

void fmDLLSetPlatformOrder(int* positions) {
  if (CThreadManager* control = CurrentControl()) control->SetPlatformOrder(positions);
}

int fmDLLGetPlatformOrder(int* order) {
  CThreadManager* control = CurrentControl();
  return control && order ? control->CopyPlatformOrder(order) : 0;
}

void fmBroadcastPlatformOrderingThreshold(float threshold) {
  if (CThreadManager* control = CurrentControl()) control->SetOrderingThreshold(threshold);
}

void fmDLLStartPlatformOrdering(void) {
  if (CThreadManager* control = CurrentControl()) control->StartOrdering();
}

int fmDLLIsPlatformOrderingComplete(void) {
  CThreadManager* control = CurrentControl();
  return control ? control->OrderingComplete() : 0;
}

void fmDLLCancelPlatformOrdering(void) {
  if (CThreadManager* control = CurrentControl()) control->CancelOrdering();
}

}  // extern "C"
