// Exported platform-order calls.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/export_guard.h"
#include "driver/api/control_access.h"

using torva::CThreadManager;
using torva::CurrentControl;

extern "C" {

void fmDLLSetPlatformOrder(int* positions) try {
  if (CThreadManager* control = CurrentControl()) control->SetPlatformOrder(positions);
} TORVA_EXPORT_GUARD()

int fmDLLGetPlatformOrder(int* order) try {
  CThreadManager* control = CurrentControl();
  return control && order ? control->CopyPlatformOrder(order) : 0;
} TORVA_EXPORT_GUARD(0)

void fmBroadcastPlatformOrderingThreshold(float threshold) try {
  if (CThreadManager* control = CurrentControl()) control->SetOrderingThreshold(threshold);
} TORVA_EXPORT_GUARD()

void fmDLLStartPlatformOrdering(void) try {
  if (CThreadManager* control = CurrentControl()) control->StartOrdering();
} TORVA_EXPORT_GUARD()

int fmDLLIsPlatformOrderingComplete(void) try {
  CThreadManager* control = CurrentControl();
  return control ? control->OrderingComplete() : 0;
} TORVA_EXPORT_GUARD(0)

void fmDLLCancelPlatformOrdering(void) try {
  if (CThreadManager* control = CurrentControl()) control->CancelOrdering();
} TORVA_EXPORT_GUARD()

}  // extern "C"
