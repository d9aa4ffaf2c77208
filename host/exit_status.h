#pragma once
// The exit statuses of torva-host, one per way a run can end.

namespace torva::host {

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitUsageOrLoading = 1,   // wrong options, an unusable file, or a plugin that cannot be loaded
  kExitOutputFailed = 1,     // an output (CSV, log) could not be written: the capture ended there
  kExitNoPlates = 2,         // the detection found no plate
  kExitDetectionFailed = 3,  // the detection failed or did not end within its limit
  kExitStalled = 4,          // the capture received no data for too long
};

}  // namespace torva::host
