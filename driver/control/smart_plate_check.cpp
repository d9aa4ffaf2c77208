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

// The calibration file of a plate in `directory`; nothing when there is no directory or the
// plate's serial names no file.
std::optional<std::string> PlateFilePath(const std::optional<std::string>& directory,
                                         const AmplifierParameterBlock& parameters) {
  if (!directory) return std::nullopt;
  return CalibrationFilePath(*directory, parameters.platformSerial);
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
  std::optional<std::string> path = PlateFilePath(calibrationDirectory, parameters);
  const std::optional<CalibrationFileStart> file =
      path ? ReadCalibrationFileStart(*path) : std::nullopt;
  if (file && file->loadable && file->productType > 0 &&
      file->productType == parameters.productType)
    return {Step::kDownload, std::move(*path)};
  return {Step::kListFileProblem, {}};
}

int PlanRequestedDownload(const AmplifierParameterBlock& parameters,
                          const std::optional<std::string>& calibrationDirectory,
                          std::string& path) {
  if (!IsSmartPlate(parameters.productType)) return kDownloadNotASmartPlate;
  std::optional<std::string> filePath = PlateFilePath(calibrationDirectory, parameters);
  const std::optional<CalibrationFileStart> file =
      filePath ? ReadCalibrationFileStart(*filePath) : std::nullopt;
  if (!file) return kDownloadNoCalibrationFile;
  // A file too short for its product word holds none: it is not a file for this plate.
  if (file->productType != parameters.productType) return kDownloadFileForAnotherPlate;
  // A file that cannot be loaded whole ends the download on the device side (status 2).
  path = std::move(*filePath);
  return kDownloadStarted;
}

}  // namespace torva
