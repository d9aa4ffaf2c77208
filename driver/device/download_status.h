#pragma once
// The state of a smart plate's calibration download as the library reports it.

namespace torva {

enum DownloadStatus : int {
  kDownloadRunning = 0,         // requested or under way
  kDownloadComplete = 1,        // done (also for plates that need no download)
  kDownloadFileProblem = 2,     // the file cannot be loaded or does not match the plate
  kDownloadVersionRejected = 3, // the plate rejected the file's version
  kDownloadCrcMismatch = 4,     // the plate found the stream's CRC wrong
  kDownloadPlateError = 5,      // the plate failed the download for another reason
};

// What a request to start a download returns (fmVantorDownloadCalFile).
enum DownloadRequestResult : int {
  kDownloadStarted = 0,
  kDownloadNoDevice = 1,
  kDownloadNotASmartPlate = 2,
  kDownloadNoCalibrationFile = 3,  // no calibration directory, or no file there that can be read
  kDownloadFileForAnotherPlate = 4,  // the file's product type is not the plate's
};

// The download status for a plate's error detail (1: version rejected, 2: CRC mismatch).
constexpr int DownloadStatusForPlateError(int detail) {
  return detail == 1 ? kDownloadVersionRejected
         : detail == 2 ? kDownloadCrcMismatch
                       : kDownloadPlateError;
}

}  // namespace torva
