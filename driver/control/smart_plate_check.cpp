#include "driver/control/smart_plate_check.h"

#include "driver/device/calibration_file.h"
#include "driver/device/download_status.h"
#include "driver/device/parameter_rules.h"

namespace torva {
namespace {

// Smart-plate status values the check acts on.
constexpr std::int32_t kPlateFault = 2;
constexpr std::int32_t kCalibrationMissing = 3;
constexpr std::int32_t kCalibrationOutdated = 4;
constexpr std::int32_t kMemoryFault = 5;

// The calibration file of a plate in `directory` and the start of it; no path when there is no
// directory or the plate's serial names no file, no start when the file cannot be read.
struct PlateFile {
  std::optional<std::string> path;
  std::optional<CalibrationFileStart> start;
};

PlateFile ReadPlateFile(const std::optional<std::string>& directory,
                        const AmplifierParameterBlock& parameters) {
  PlateFile file;
  if (directory) file.path = CalibrationFilePath(*directory, parameters.platformSerial);
  if (file.path) file.start = ReadCalibrationFileStart(*file.path);
  return file;
}

}  // namespace

SmartPlatePlan PlanSmartPlate(const AmplifierParameterBlock& parameters,
                              const std::optional<std::string>& calibrationDirectory) {
  using Step = SmartPlatePlan::Step;
  const std::int32_t status = parameters.smartPlateStatus;
  if (status == kPlateFault || status == kMemoryFault) return {Step::kListFault, {}};
  const bool needsDownload = IsSmartPlate(parameters.productType) &&
                             (status == kCalibrationMissing || status == kCalibrationOutdated);
  if (!needsDownload) return {Step::kNothing, {}};
  PlateFile file = ReadPlateFile(calibrationDirectory, parameters);
  if (file.start && file.start->loadable && file.start->productType > 0 &&
      file.start->productType == parameters.productType)
    return {Step::kDownload, std::move(*file.path)};
  return {Step::kListFileProblem, {}};
}

int PlanRequestedDownload(const AmplifierParameterBlock& parameters,
                          const std::optional<std::string>& calibrationDirectory,
                          std::string& path) {
  if (!IsSmartPlate(parameters.productType)) return kDownloadNotASmartPlate;
  PlateFile file = ReadPlateFile(calibrationDirectory, parameters);
  if (!file.start) return kDownloadNoCalibrationFile;
  // A file too short for its product word holds none: it is not a file for this plate.
  if (file.start->productType != parameters.productType) return kDownloadFileForAnotherPlate;
  // A file that cannot be loaded whole ends the download on the device side (status 2).
  path = std::move(*file.path);
  return kDownloadStarted;
}

}  // namespace torva
