#pragma once
// Wire records of the calibration-file download to a smart plate. The host sends a header
// (BeginCalibrationDownload), then the stream in 1024-byte blocks (CalibrationBlock), asking for
// the plate's status block (ReadDownloadStatus) after each one. The stream is the calibration file
// followed by its CRC-16/ARC, low byte first.

#include <cstddef>
#include <cstdint>

namespace torva {

inline constexpr std::size_t kCalibrationBlockBytes = 1024;
// The CRC that follows the file data in the stream.
inline constexpr std::size_t kCalibrationCrcBytes = 2;

#pragma pack(push, 1)
// Payload of BeginCalibrationDownload (the header's item count says 8; nine words are sent).
struct CalibrationDownloadHeader {
  std::int32_t headerWord1;    // the file's first header word (its version)
  std::int32_t streamLength;   // file length + 2: the bytes of the stream, CRC included
  std::int32_t blockCount;     // 1024-byte blocks of the stream
  std::int32_t headerWord2;
  std::int32_t headerWord3;
  std::int32_t headerWord4;
  std::int32_t zero[3];
};

// Payload of the ReadDownloadStatus reply.
struct PlateStatusBlock {
  std::int32_t word0;          // not interpreted by the host
  std::int32_t state;          // PlateDownloadState
  std::int32_t errorDetail;    // PlateErrorDetail when the state is kFailed
  std::int32_t word3;          // not interpreted by the host
};
#pragma pack(pop)

static_assert(sizeof(CalibrationDownloadHeader) == 9 * sizeof(std::int32_t));
static_assert(offsetof(CalibrationDownloadHeader, streamLength) == 4);
static_assert(offsetof(CalibrationDownloadHeader, blockCount) == 8);
static_assert(offsetof(CalibrationDownloadHeader, headerWord2) == 12);
static_assert(sizeof(PlateStatusBlock) == 16);
static_assert(offsetof(PlateStatusBlock, state) == 4);
static_assert(offsetof(PlateStatusBlock, errorDetail) == 8);

// State word of the plate status block.
enum class PlateDownloadState : std::int32_t {
  kHandToControl = -1,  // not a download reply: handed to the control thread
  kReady = 0,           // ready for the next block
  kBusy = 1,
  kDone = 2,
  kFailed = 3,
};

// Error detail of a failed download.
enum class PlateErrorDetail : std::int32_t {
  kNone = 0,
  kVersionRejected = 1,
  kCrcMismatch = 2,
};

// Blocks needed for a file of `fileLength` bytes: its stream (file + CRC) rounded up to whole
// blocks. Negative lengths count as empty.
constexpr std::int32_t CalibrationBlockCount(std::int64_t fileLength) {
  const std::int64_t stream =
      (fileLength < 0 ? 0 : fileLength) + static_cast<std::int64_t>(kCalibrationCrcBytes);
  const auto block = static_cast<std::int64_t>(kCalibrationBlockBytes);
  return static_cast<std::int32_t>((stream + block - 1) / block);
}

static_assert(CalibrationBlockCount(0) == 1);
static_assert(CalibrationBlockCount(2046) == 2);
static_assert(CalibrationBlockCount(2047) == 3);

}  // namespace torva
