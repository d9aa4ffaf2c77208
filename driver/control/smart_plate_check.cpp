// Smart plates: the check after every parameter refresh that starts the calibration downloads
// the plates need, and the download a caller asks for.

#include <cstring>

#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
#include "driver/device/calibration_file.h"
#include "driver/device/parameter_rules.h"

namespace torva {
namespace {

// Smart-plate status values the check acts on.
constexpr std::int32_t kPlateFault = 2;
constexpr std::int32_t kCalibrationMissing = 3;
constexpr std::int32_t kCalibrationOutdated = 4;
constexpr std::int32_t kMemoryFault = 5;

// Return codes of a download request.
enum DownloadRequestResult : int {
  kDownloadStarted = 0,
  kNoDevice = 1,
  kNotASmartPlate = 2,
  kNoCalibrationFile = 3,
  kFileForAnotherPlate = 4,
};

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
      std::optional<std::string> path;
      if (directory) path = CalibrationFilePath(*directory, parameters.platformSerial);
      std::optional<std::int32_t> fileType = path ? ReadFileProductType(*path) : std::nullopt;
      if (fileType && *fileType > 0 && *fileType == parameters.productType) {
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
  if (device == nullptr || !CopyParameters(slot, parameters)) return kNoDevice;
  if (!IsSmartPlate(parameters.productType)) return kNotASmartPlate;
  const std::optional<std::string> directory = ReadCalibrationDirectory();
  if (!directory) return kNoCalibrationFile;
  const std::optional<std::string> path = CalibrationFilePath(*directory, parameters.platformSerial);
  if (!path) return kNoCalibrationFile;
  const std::optional<std::int32_t> fileType = ReadFileProductType(*path);
  if (!fileType) return kNoCalibrationFile;
  if (*fileType != parameters.productType) return kFileForAnotherPlate;
  device->RequestCalibrationDownload(*path);
  return kDownloadStarted;
}

}  // namespace torva
