// Exported smart-plate calibration-download calls.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/selected_amplifier.h"
#include "driver/device/amplifier_device.h"
#include "driver/device/download_status.h"

using torva::AmplifierParameterBlock;
using torva::CThreadManager;
using torva::CurrentControl;
using namespace torva::api;

extern "C" {

int fmVantorGetStatus(void) { return GetField(&AmplifierParameterBlock::smartPlateStatus); }

int fmVantorDownloadCalFile(int /*unused*/) {
  CThreadManager* control = CurrentControl();
  return control ? control->StartCalibrationDownload() : torva::kDownloadNoDevice;
}

int fmIsVantorDownloadComplete(void) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr) return 0;
  const torva::CUSBDevice* device = control->Device(control->SelectedSlot());
  return device ? device->DownloadStatus() : 0;
}

int fmBroadcastCheckVantor(int* slots) {
  CThreadManager* control = CurrentControl();
  return control && slots ? control->CopyCheckList(slots) : 0;
}

}  // extern "C"
