// Exported smart-plate calibration-download calls.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/export_guard.h"
#include "driver/api/selected_amplifier.h"
#include "driver/device/amplifier_device.h"
#include "driver/device/download_status.h"

using torva::AmplifierParameterBlock;
using torva::CThreadManager;
using torva::CurrentControl;
using namespace torva::api;

extern "C" {

int fmVantorGetStatus(void) try {
  return GetField(&AmplifierParameterBlock::smartPlateStatus);
} TORVA_EXPORT_GUARD(0)

int fmVantorDownloadCalFile(int /*unused*/) try {
  CThreadManager* control = CurrentControl();
  return control ? control->StartCalibrationDownload() : torva::kDownloadNoDevice;
} TORVA_EXPORT_GUARD(0)

int fmIsVantorDownloadComplete(void) try {
  CThreadManager* control = CurrentControl();
  if (control == nullptr) return 0;
  const torva::CUSBDevice* device = control->Device(control->SelectedSlot());
  return device ? device->DownloadStatus() : 0;
} TORVA_EXPORT_GUARD(0)

int fmBroadcastCheckVantor(int* slots) try {
  CThreadManager* control = CurrentControl();
  return control && slots ? control->Setup().CopyCheckList(slots) : 0;
} TORVA_EXPORT_GUARD(0)

}  // extern "C"
