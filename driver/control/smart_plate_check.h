#pragma once
// What the smart-plate check decides for one plate after its parameters were read, and what a
// caller's download request decides, from the plate's parameter block and the calibration
// directory. Decisions only: the control thread acts on them (a download handed to the device
// thread, a download status set, a slot listed). Reads calibration files; no threads, no locks.

#include <optional>
#include <string>

#include "driver/device/amplifier_parameter_block.h"

namespace torva {

struct SmartPlatePlan {
  enum class Step {
    kNothing,         // no download needed: the plate's download is complete
    kListFault,       // the plate reports a fault: listed, and its download is complete
    kDownload,        // its calibration file is downloaded from `path`
    kListFileProblem  // it needs a download but has no usable file: listed, file problem
  };
  Step step = Step::kNothing;
  std::string path;
};

// The check after a parameter read. Only a file that is for this plate and can be loaded whole
// is downloaded.
SmartPlatePlan PlanSmartPlate(const AmplifierParameterBlock& parameters,
                              const std::optional<std::string>& calibrationDirectory);

// A caller's request to download the plate's calibration file: kDownloadStarted with `path` set
// when it may go ahead, else the refusal (a DownloadRequestResult).
int PlanRequestedDownload(const AmplifierParameterBlock& parameters,
                          const std::optional<std::string>& calibrationDirectory,
                          std::string& path);

}  // namespace torva
