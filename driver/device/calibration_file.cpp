#include "driver/device/calibration_file.h"

#include <algorithm>

#include "driver/device/crc16_arc.h"
#include "platform/configuration_directory.h"
#include "platform/regular_file_read.h"

namespace torva {
namespace {

constexpr int kBitsPerByte = 8;
constexpr std::uint16_t kByteMask = 0xFF;

// The little-endian int32 at `data`.
std::int32_t LittleEndianWord(const std::uint8_t* data) {
  std::uint32_t word = 0;
  for (std::size_t i = sizeof(word); i-- > 0;) word = (word << kBitsPerByte) | data[i];
  return static_cast<std::int32_t>(word);
}

bool LoadableLength(std::uint64_t length) {
  return length >= kCalibrationHeaderBytes &&
         length <= static_cast<std::uint64_t>(kMaxCalibrationFileBytes);
}

}  // namespace

std::optional<CalibrationFile> CalibrationFile::Load(const std::string& path) {
  const platform::FileRead read =
      platform::ReadRegularFile(path, static_cast<std::uint64_t>(kMaxCalibrationFileBytes));
  if (!read.Read() || !LoadableLength(read.bytes.size())) return std::nullopt;

  CalibrationFile file;
  const std::size_t bytes = read.bytes.size();
  file.fileLength_ = static_cast<std::int32_t>(bytes);
  file.blockCount_ = CalibrationBlockCount(file.fileLength_);
  file.stream_.assign(static_cast<std::size_t>(file.blockCount_) * kCalibrationBlockBytes, 0);
  std::copy(read.bytes.begin(), read.bytes.end(), file.stream_.begin());

  // The header comes from the file alone, before the CRC joins the stream.
  for (int w = 0; w < kCalibrationHeaderWords; ++w)
    file.header_[w] = LittleEndianWord(file.stream_.data() + w * sizeof(std::int32_t));

  file.crc_ = Crc16Arc(file.stream_.data(), bytes);
  file.stream_[bytes] = static_cast<std::uint8_t>(file.crc_ & kByteMask);
  file.stream_[bytes + 1] = static_cast<std::uint8_t>(file.crc_ >> kBitsPerByte);
  return file;
}

std::int32_t CalibrationFile::HeaderWord(int index) const {
  return index >= 0 && index < kCalibrationHeaderWords ? header_[index] : 0;
}

const std::uint8_t* CalibrationFile::Block(std::int32_t k) const {
  if (k < 0 || k >= blockCount_) return nullptr;
  return stream_.data() + static_cast<std::size_t>(k) * kCalibrationBlockBytes;
}

CalibrationDownloadHeader CalibrationFile::DownloadHeader() const {
  CalibrationDownloadHeader header{};
  header.headerWord1 = header_[1];
  header.streamLength = fileLength_ + static_cast<std::int32_t>(kCalibrationCrcBytes);
  header.blockCount = blockCount_;
  header.headerWord2 = header_[2];
  header.headerWord3 = header_[3];
  header.headerWord4 = header_[4];
  return header;
}

std::optional<std::string> ReadCalibrationDirectory() {
  return platform::ReadDirectorySetting(kCalibrationKey);
}

std::optional<std::string> CalibrationFileName(const char (&platformSerial)[kPlatformSerialBytes]) {
  const std::string serial(platformSerial,
                           std::find(platformSerial, platformSerial + kPlatformSerialBytes, '\0'));
  if (serial.empty() || serial.find(platform::kPathSeparator) != std::string::npos) return std::nullopt;
  return serial + kCalibrationFileExtension;
}

std::optional<std::string> CalibrationFilePath(const std::string& directory,
                                               const char (&platformSerial)[kPlatformSerialBytes]) {
  const std::optional<std::string> name = CalibrationFileName(platformSerial);
  if (!name) return std::nullopt;
  return directory + *name;
}

std::optional<CalibrationFileStart> ReadCalibrationFileStart(const std::string& path) {
  const platform::FileRead read = platform::ReadRegularFileStart(path, sizeof(std::int32_t));
  if (!read.Read()) return std::nullopt;
  CalibrationFileStart start;
  if (read.bytes.size() == sizeof(std::int32_t))
    start.productType = LittleEndianWord(reinterpret_cast<const std::uint8_t*>(read.bytes.data()));
  start.loadable = LoadableLength(read.size);
  return start;
}

}  // namespace torva
