// Exported acquisition settings of the selected amplifier.

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/selected_amplifier.h"

using torva::AmplifierParameterBlock;
using namespace torva::api;

extern "C" {

int fmGetAcquisitionRate(void) { return GetField(&AmplifierParameterBlock::acquisitionRate); }

int fmGetRunMode(void) { return GetField(&AmplifierParameterBlock::runMode); }

}  // extern "C"
