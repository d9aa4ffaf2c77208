// Exported smart-plate calibration-download calls.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/selected_amplifier.h"

using torva::AmplifierParameterBlock;
using namespace torva::api;

extern "C" {

int fmVantorGetStatus(void) { return GetField(&AmplifierParameterBlock::smartPlateStatus); }

}  // extern "C"
