// libFuzzer target: any bytes as a smart plate's calibration file. A file the reader takes gives a
// stream of whole 1024-byte blocks that holds the file, then its CRC-16/ARC low byte first, then
// zeros; the download header announces that stream; and the emulated plate, sent the blocks,
// finds the CRC right (or refuses the version the file's header word 1 names). A file shorter
// than its header is refused, and so is its start.

#include <cstring>

#include "driver/device/calibration_file.h"
#include "driver/device/crc16_arc.h"
#include "sim/calibration_receiver.h"
#include "tests/fuzz/fuzz_support.h"

using namespace torva;

namespace {

// Status queries the plate may answer "busy" before a block; far more than it ever does.
constexpr int kMaxBusyQueries = 64;

std::int32_t LittleEndianWord(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) |
                                   static_cast<std::uint32_t>(bytes[1]) << 8 |
                                   static_cast<std::uint32_t>(bytes[2]) << 16 |
                                   static_cast<std::uint32_t>(bytes[3]) << 24);
}

void CheckStream(const CalibrationFile& file, const std::uint8_t* data, std::size_t size) {
  FUZZ_CHECK(file.FileLength() == static_cast<std::int32_t>(size), "file length");
  FUZZ_CHECK(file.BlockCount() == CalibrationBlockCount(static_cast<std::int64_t>(size)),
             "block count covers file and CRC");
  for (int w = 0; w < kCalibrationHeaderWords; ++w)
    FUZZ_CHECK(file.HeaderWord(w) == LittleEndianWord(data + w * sizeof(std::int32_t)),
               "header words as in the file");
  FUZZ_CHECK(file.Crc() == Crc16Arc(data, size), "the CRC is that of the file");
  FUZZ_CHECK(file.Block(-1) == nullptr && file.Block(file.BlockCount()) == nullptr,
             "no block outside the stream");

  const std::size_t crcAt = size;
  for (std::int32_t k = 0; k < file.BlockCount(); ++k) {
    const std::uint8_t* block = file.Block(k);
    FUZZ_CHECK(block != nullptr, "every block of the stream exists");
    for (std::size_t i = 0; i < kCalibrationBlockBytes; ++i) {
      const std::size_t at = static_cast<std::size_t>(k) * kCalibrationBlockBytes + i;
      const std::uint8_t expected = at < size        ? data[at]
                                    : at == crcAt     ? static_cast<std::uint8_t>(file.Crc())
                                    : at == crcAt + 1 ? static_cast<std::uint8_t>(file.Crc() >> 8)
                                                      : 0;
      FUZZ_CHECK(block[i] == expected, "stream = file, CRC low byte first, zero padding");
    }
  }

  const CalibrationDownloadHeader header = file.DownloadHeader();
  FUZZ_CHECK(header.streamLength == static_cast<std::int32_t>(size + kCalibrationCrcBytes) &&
                 header.blockCount == file.BlockCount() && header.headerWord1 == file.HeaderWord(1) &&
                 header.headerWord2 == file.HeaderWord(2) &&
                 header.headerWord3 == file.HeaderWord(3) &&
                 header.headerWord4 == file.HeaderWord(4),
             "the download header announces the stream");
}

// Sends the stream to the emulated plate as the device thread does: a block whenever the plate
// reports ready, then its status.
void CheckPlateTakesStream(const CalibrationFile& file, const std::uint8_t* data, std::size_t size) {
  sim::CalibrationReceiver plate;
  plate.SetBusyQueriesPerBlock(1);
  plate.Begin(file.DownloadHeader());
  const bool tooLarge = static_cast<std::int64_t>(size + kCalibrationCrcBytes) >
                        sim::CalibrationReceiver::kMaxStreamBytes;
  std::int32_t sent = 0;
  for (int busy = 0; busy < kMaxBusyQueries;) {
    const PlateStatusBlock status = plate.Query();
    const auto state = static_cast<PlateDownloadState>(status.state);
    if (state == PlateDownloadState::kBusy) {
      ++busy;
      continue;
    }
    busy = 0;
    if (state == PlateDownloadState::kDone) {
      FUZZ_CHECK(sent == file.BlockCount(), "done after the last block");
      FUZZ_CHECK(std::memcmp(plate.Received().data(), data, size) == 0, "the plate holds the file");
      return;
    }
    if (state == PlateDownloadState::kFailed) {
      const bool versionRefused =
          status.errorDetail == static_cast<std::int32_t>(PlateErrorDetail::kVersionRejected) &&
          file.HeaderWord(1) <= 0;
      const bool headerRefused =
          status.errorDetail == sim::CalibrationReceiver::kMalformedHeaderDetail && tooLarge;
      FUZZ_CHECK(versionRefused || headerRefused, "the plate fails only a version or size it refuses");
      return;
    }
    FUZZ_CHECK(state == PlateDownloadState::kReady && sent < file.BlockCount(),
               "ready only while blocks remain");
    FUZZ_CHECK(plate.ReceiveBlock(file.Block(sent), kCalibrationBlockBytes), "a ready plate takes a block");
    ++sent;
  }
  FUZZ_CHECK(false, "the plate stayed busy");
}

const fuzz::ScratchFile& Scratch() {
  static const fuzz::ScratchFile file("calibration");
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzz::WriteScratch(Scratch().Path(), data, size)) return 0;
  const auto start = ReadCalibrationFileStart(Scratch().Path());
  FUZZ_CHECK(start.has_value(), "a regular file's start reads");
  const auto file = CalibrationFile::Load(Scratch().Path());
  FUZZ_CHECK(file.has_value() == start->loadable, "the start tells whether the file loads");
  FUZZ_CHECK(file.has_value() == (size >= kCalibrationHeaderBytes), "loads exactly with a header");
  FUZZ_CHECK(start->productType == (size >= sizeof(std::int32_t) ? LittleEndianWord(data) : kNoProductType),
             "the start's product type is the first word");
  if (!file) return 0;
  CheckStream(*file, data, size);
  CheckPlateTakesStream(*file, data, size);
  return 0;
}
