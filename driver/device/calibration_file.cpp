#include "driver/device/calibration_file.h"

#include <algorithm>
#include <fstream>

#include "driver/control/configuration_directory.h"
#include "driver/device/crc16_arc.h"

namespace torva {
namespace {

constexpr int kBitsPerByte = 8;
constexpr std::uint16_t kByteMask = 0xFF;

// Little-endian int32 from `bytes` present bytes at `data`; missing bytes count as 0.
std::int32_t LittleEndianWord(const std::uint8_t* data, std::size_t bytes) {
  std::uint32_t word = 0;
  for (std::size_t i = std::min(bytes, sizeof(word)); i-- > 0;)
    word = (word << kBitsPerByte) | data[i];
  return static_cast<std::int32_t>(word);
}

}  // namespace

std::optional<CalibrationFile> CalibrationFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const std::streamoff length = in.tellg();
  if (length < 0 || length > kMaxCalibrationFileBytes) return std::nullopt;
  in.seekg(0);

  CalibrationFile file;
  file.fileLength_ = static_cast<std::int32_t>(length);
  file.blockCount_ = CalibrationBlockCount(length);
  file.stream_.assign(static_cast<std::size_t>(file.blockCount_) * kCalibrationBlockBytes, 0);
  const auto bytes = static_cast<std::size_t>(length);
  if (bytes > 0 &&
      !in.read(reinterpret_cast<char*>(file.stream_.data()), static_cast<std::streamsize>(bytes)))
    return std::nullopt;

  // The header comes from the file alone, before the CRC joins the stream.
  for (int w = 0; w < kCalibrationHeaderWords; ++w) {
    const std::size_t start = static_cast<std::size_t>(w) * sizeof(std::int32_t);
    file.header_[w] =
        start < bytes ? LittleEndianWord(file.stream_.data() + start, bytes - start) : 0;
  }

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
  return ReadDirectorySetting(kCalibrationKey);
}

std::optional<std::string> CalibrationFileName(const char (&platformSerial)[kPlatformSerialBytes]) {
  const std::string serial(platformSerial,
                           std::find(platformSerial, platformSerial + kPlatformSerialBytes, '\0'));
  if (serial.empty() || serial.find(kPathSeparator) != std::string::npos) return std::nullopt;
  return serial + kCalibrationFileExtension;
}

std::optional<std::string> CalibrationFilePath(const std::string& directory,
                                               const char (&platformSerial)[kPlatformSerialBytes]) {
  const std::optional<std::string> name = CalibrationFileName(platformSerial);
  if (!name) return std::nullopt;
  return directory + *name;
}

std::optional<std::int32_t> ReadFileProductType(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint8_t word[sizeof(std::int32_t)] = {};
  if (!in || !in.read(reinterpret_cast<char*>(word), sizeof(word))) return std::nullopt;
  return LittleEndianWord(word, sizeof(word));
}

}  // namespace torva
