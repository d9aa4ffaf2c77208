#pragma once
// The smart-plate step of a detection: asks the driver library which plates need their
// calibration file, downloads it to each of them in turn, waits for each download to end and logs
// the outcome. Failures are logged as warnings and never stop the detection.
//
// Runs on the driver service's worker thread with the service's device lock held.

#include "plugin/frame/host_interface.h"

namespace Torva {

// Polls of the download status, kDownloadPollPause apart, before a download counts as timed out.
inline constexpr int kDownloadPolls = 50;

void DownloadSmartPlateCalibrations(SabloDigitalDevice::IHostServices* services);

}  // namespace Torva
