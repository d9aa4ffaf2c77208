// Smart plates: the check after every parameter refresh that starts the calibration downloads
// the plates need, and the download a caller asks for.

#include <cstring>

#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
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

int CThreadManager::RunSmartPlateCheck() {
  const std::optional<std::string> directory = ReadCalibrationDirectory();
  int listed = 0;
  int started = 0;
  const int count = deviceCount_.load();
  for (int slot = 0; slot < count; ++slot) {
    CUSBDevice* device = Device(slot);
    AmplifierParameterBlock parameters{};
    if (device == nullptr || !CopyParameters(slot, parameters)) continue;
    const std::int32_t status = parameters.smartPlateStatus;
    const bool needsDownload = IsSmartPlate(parameters.productType) &&
                               (status == kCalibrationMissing || status == kCalibrationOutdated);
    if (status == kPlateFault || status == kMemoryFault) {
      checkList_[static_cast<std::size_t>(listed++)] = slot;
      device->SetDownloadStatus(kDownloadComplete);
    } else if (needsDownload) {
      const std::optional<std::string> path = PlateFilePath(directory, parameters);
      const std::optional<CalibrationFileStart> file =
          path ? ReadCalibrationFileStart(*path) : std::nullopt;
      // Only a file that is for this plate and can be loaded whole is downloaded.
      if (file && file->loadable && file->productType > 0 &&
          file->productType == parameters.productType) {
        device->RequestCalibrationDownload(*path);
        ++started;
      } else {
        checkList_[static_cast<std::size_t>(listed++)] = slot;
        device->SetDownloadStatus(kDownloadFileProblem);
      }
    } else {
      device->SetDownloadStatus(kDownloadComplete);
    }
  }
  checkListCount_ = listed;
  return started;
}

int CThreadManager::CopyCheckList(int* out) const {
  const int count = checkListCount_.load();
  if (out != nullptr) std::copy(checkList_.begin(), checkList_.begin() + count, out);
  return count;
}

int CThreadManager::StartCalibrationDownload() {
  const int slot = selectedSlot_.load();
  CUSBDevice* device = Device(slot);
  AmplifierParameterBlock parameters{};
  if (device == nullptr || !CopyParameters(slot, parameters)) return kDownloadNoDevice;
  if (!IsSmartPlate(parameters.productType)) return kDownloadNotASmartPlate;
  const std::optional<std::string> path = PlateFilePath(ReadCalibrationDirectory(), parameters);
  const std::optional<CalibrationFileStart> file =
      path ? ReadCalibrationFileStart(*path) : std::nullopt;
  if (!file) return kDownloadNoCalibrationFile;
  // A file too short for its product word holds none: it is not a file for this plate.
  if (file->productType != parameters.productType) return kDownloadFileForAnotherPlate;
  // A file that cannot be loaded whole ends the download on the device side (status 2).
  device->RequestCalibrationDownload(*path);
  return kDownloadStarted;
}

}  // namespace torva
