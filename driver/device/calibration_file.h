#pragma once
// A smart plate's calibration file and the stream sent to the plate from it. The file (named after
// the plate's serial number, in the calibration directory of the machine settings) starts with
// five little-endian int32 words: the product type, then header words 1..4 that the plate receives
// with BeginCalibrationDownload. The stream is the file followed by its CRC-16/ARC, low byte
// first, sent in 1024-byte blocks, the last one zero-padded.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/calibration_protocol.h"

namespace torva {

inline constexpr const char* kCalibrationKey = "SOFTWARE\\Torva\\HPS";
inline constexpr const char* kCalibrationFileExtension = ".bcf";
// Word 0 of the file is the product type; words 1..4 are the header words. A file shorter than
// this header cannot be downloaded.
inline constexpr int kCalibrationHeaderWords = 5;
inline constexpr std::size_t kCalibrationHeaderBytes = kCalibrationHeaderWords * sizeof(std::int32_t);
// The product type of a file too short to hold one: no plate has it.
inline constexpr std::int32_t kNoProductType = 0;
inline constexpr std::size_t kPlatformSerialBytes = sizeof(AmplifierParameterBlock::platformSerial);
// Larger files are refused instead of loaded; real ones are a few kilobytes.
inline constexpr std::int64_t kMaxCalibrationFileBytes = 16 * 1024 * 1024;

class CalibrationFile {
 public:
  // Loads the file and appends its CRC. Nothing when it is not a regular file, cannot be opened
  // or read completely, is shorter than its header (kCalibrationHeaderBytes) or larger than
  // kMaxCalibrationFileBytes. Opening never blocks (a FIFO is refused, not waited on).
  static std::optional<CalibrationFile> Load(const std::string& path);

  std::int32_t FileLength() const { return fileLength_; }
  // 1024-byte blocks of the stream: (file length + 2) / 1024, rounded up.
  std::int32_t BlockCount() const { return blockCount_; }
  // Word `index` (0 = product type, 1..4 = header words) as read from the file start; 0 for an
  // index outside 0..kCalibrationHeaderWords-1.
  std::int32_t HeaderWord(int index) const;
  std::uint16_t Crc() const { return crc_; }
  // The 1024 bytes of block `k` of the stream; nullptr when k is not in 0..BlockCount()-1.
  const std::uint8_t* Block(std::int32_t k) const;
  // Payload of BeginCalibrationDownload for this file.
  CalibrationDownloadHeader DownloadHeader() const;

 private:
  std::vector<std::uint8_t> stream_;  // BlockCount() x 1024 bytes
  std::int32_t fileLength_ = 0;
  std::int32_t blockCount_ = 0;
  std::int32_t header_[kCalibrationHeaderWords] = {};
  std::uint16_t crc_ = 0;
};

// The calibration directory from the machine settings, with a trailing separator; nothing when
// the value is missing, empty or longer than its buffer (see ReadDirectorySetting).
std::optional<std::string> ReadCalibrationDirectory();

// The file name for a plate: its serial number up to the first NUL (all 16 bytes when there is
// none) followed by ".bcf". Nothing for an empty serial number or one that holds a path
// separator, which would name a file outside the calibration directory.
std::optional<std::string> CalibrationFileName(const char (&platformSerial)[kPlatformSerialBytes]);
// `directory` (ending with a separator) followed by the file name above.
std::optional<std::string> CalibrationFilePath(const std::string& directory,
                                               const char (&platformSerial)[kPlatformSerialBytes]);

// What the start of a calibration file tells before a download.
struct CalibrationFileStart {
  // The product type the file is for (its first int32); kNoProductType when the file is shorter.
  std::int32_t productType = kNoProductType;
  // The file holds its whole header and is not too large: CalibrationFile::Load takes it.
  bool loadable = false;
};

// The start of the calibration file at `path`. Nothing when no regular file there can be opened
// and read; opening never blocks.
std::optional<CalibrationFileStart> ReadCalibrationFileStart(const std::string& path);

}  // namespace torva
