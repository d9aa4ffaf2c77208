#include "driver/device/calibration_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/device/crc16_arc.h"
#include "tests/support/fifo_reader_guard.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/setup_fields.h"

namespace torva {
namespace {

using testing::Fill;

// File bytes: the given little-endian words, then `dataBytes` bytes of a running pattern.
std::string FileBytes(const std::vector<std::int32_t>& words, std::size_t dataBytes) {
  std::string bytes;
  for (std::int32_t word : words) {
    const auto value = static_cast<std::uint32_t>(word);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(value >> shift));
  }
  for (std::size_t i = 0; i < dataBytes; ++i) bytes.push_back(static_cast<char>(i * 7 + 3));
  return bytes;
}

// A file of exactly `length` bytes starting with a product-type and header words.
std::string FileOfLength(std::size_t length) {
  std::string bytes = FileBytes({300, 11, 22, 33, 44}, length);
  bytes.resize(length);
  return bytes;
}

std::uint16_t CrcOf(const std::string& bytes) { return Crc16Arc(bytes.data(), bytes.size()); }

class CalibrationFileTest : public testing::ScratchDirectory {
 protected:
  std::optional<CalibrationFile> Load(const std::string& bytes) {
    WriteFile(Path("plate.bcf"), bytes);
    return CalibrationFile::Load(Path("plate.bcf"));
  }
  // The stream as the blocks give it.
  static std::string Stream(const CalibrationFile& file) {
    std::string stream;
    for (std::int32_t k = 0; k < file.BlockCount(); ++k)
      stream.append(reinterpret_cast<const char*>(file.Block(k)), kCalibrationBlockBytes);
    return stream;
  }
};

// --- Loading and the stream ---------------------------------------------------------------------

TEST_F(CalibrationFileTest, A2046ByteFileFillsTwoBlocksWithItsCrc) {
  const std::string bytes = FileOfLength(2046);
  const auto file = Load(bytes);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->FileLength(), 2046);
  EXPECT_EQ(file->BlockCount(), 2);
  const std::uint16_t crc = CrcOf(bytes);
  EXPECT_EQ(file->Crc(), crc);
  const std::string expected = bytes + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
  EXPECT_EQ(Stream(*file), expected);
}

TEST_F(CalibrationFileTest, A2047ByteFileLeavesOnlyTheCrcHighByteForTheThirdBlock) {
  const std::string bytes = FileOfLength(2047);
  const auto file = Load(bytes);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->BlockCount(), 3);
  const std::uint16_t crc = CrcOf(bytes);
  EXPECT_EQ(file->Block(1)[kCalibrationBlockBytes - 1], crc & 0xFF);
  const std::uint8_t* third = file->Block(2);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third[0], crc >> 8);
  for (std::size_t i = 1; i < kCalibrationBlockBytes; ++i) ASSERT_EQ(third[i], 0) << i;
  EXPECT_EQ(Stream(*file).substr(0, bytes.size()), bytes);
}

TEST_F(CalibrationFileTest, AFileOfJustItsHeaderIsOneBlock) {
  const std::string bytes = FileOfLength(kCalibrationHeaderBytes);
  const auto file = Load(bytes);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->BlockCount(), 1);
  EXPECT_EQ(file->HeaderWord(4), 44);
  EXPECT_EQ(file->DownloadHeader().streamLength, 22);
  const std::uint16_t crc = CrcOf(bytes);
  EXPECT_EQ(Stream(*file).substr(0, 22),
            bytes + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8));
}

TEST_F(CalibrationFileTest, BlocksOutsideTheStreamAreNotGiven) {
  const auto file = Load(FileOfLength(100));
  ASSERT_TRUE(file.has_value());
  EXPECT_NE(file->Block(0), nullptr);
  EXPECT_EQ(file->Block(1), nullptr);
  EXPECT_EQ(file->Block(-1), nullptr);
}

// --- Header words and the download header -------------------------------------------------------

TEST_F(CalibrationFileTest, HeaderWordsGoToTheDownloadHeader) {
  const auto file = Load(FileBytes({400, 7, -2, 123456789, 0x7FFFFFFF}, 3000));
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->HeaderWord(0), 400);
  const CalibrationDownloadHeader header = file->DownloadHeader();
  EXPECT_EQ(header.headerWord1, 7);
  EXPECT_EQ(header.streamLength, 3020 + 2);
  EXPECT_EQ(header.blockCount, 3);
  EXPECT_EQ(header.headerWord2, -2);
  EXPECT_EQ(header.headerWord3, 123456789);
  EXPECT_EQ(header.headerWord4, 0x7FFFFFFF);
  EXPECT_EQ(header.zero[0], 0);
  EXPECT_EQ(header.zero[1], 0);
  EXPECT_EQ(header.zero[2], 0);
  EXPECT_EQ(file->HeaderWord(5), 0);
  EXPECT_EQ(file->HeaderWord(-1), 0);
}

// --- Files that are refused ---------------------------------------------------------------------

TEST_F(CalibrationFileTest, AMissingFileIsNotLoaded) {
  EXPECT_FALSE(CalibrationFile::Load(Path("absent.bcf")).has_value());
}

TEST_F(CalibrationFileTest, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  std::filesystem::create_directories(Path("folder.bcf"));
  ASSERT_TRUE(testing::MakeFifo(Path("fifo.bcf")));
  for (const std::string& path : {Path("folder.bcf"), Path("fifo.bcf")}) {
    SCOPED_TRACE(path);
    bool loaded = true;
    bool started = true;
    EXPECT_TRUE(testing::ReturnsWithoutAWriter(Path("fifo.bcf"), [&] {
      loaded = CalibrationFile::Load(path).has_value();
      started = ReadCalibrationFileStart(path).has_value();
    }));
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(started);
  }
}

TEST_F(CalibrationFileTest, AnAbsurdlyLargeFileIsRefusedBeforeAllocating) {
  WriteFile(Path("huge.bcf"), "");
  std::filesystem::resize_file(Path("huge.bcf"),
                               static_cast<std::uintmax_t>(kMaxCalibrationFileBytes) + 1);
  EXPECT_FALSE(CalibrationFile::Load(Path("huge.bcf")).has_value());
}

// --- Product type of a file ---------------------------------------------------------------------

TEST_F(CalibrationFileTest, TheStartTellsTheProductTypeAndWhetherTheFileLoads) {
  struct Case {
    std::string bytes;
    std::int32_t productType;
    bool loadable;
  };
  const std::vector<Case> cases = {
      {FileBytes({300, 1, 2, 3, 4}, 10), 300, true},
      {FileOfLength(kCalibrationHeaderBytes), 300, true},
      {FileOfLength(kCalibrationHeaderBytes - 1), 300, false},
      {FileOfLength(12), 300, false},
      {FileBytes({-5}, 0), -5, false},
      {std::string("\x2C\x01\x00", 3), kNoProductType, false},
      {"", kNoProductType, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    WriteFile(Path("a.bcf"), c.bytes);
    const std::optional<CalibrationFileStart> start = ReadCalibrationFileStart(Path("a.bcf"));
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(start->productType, c.productType);
    EXPECT_EQ(start->loadable, c.loadable);
    EXPECT_EQ(CalibrationFile::Load(Path("a.bcf")).has_value(), c.loadable);
  }
  EXPECT_FALSE(ReadCalibrationFileStart(Path("absent.bcf")).has_value());
}

// --- Calibration directory and file name --------------------------------------------------------

TEST_F(CalibrationFileTest, AMissingDirectoryValueGivesNoDirectory) {
  EXPECT_FALSE(ReadCalibrationDirectory().has_value());
  ASSERT_TRUE(Settings().Write("SOFTWARE\\Torva\\CFG", "Path", "/elsewhere/"));
  EXPECT_FALSE(ReadCalibrationDirectory().has_value());
}

TEST_F(CalibrationFileTest, ADirectoryValueWithoutTrailingSeparatorGainsOne) {
  ASSERT_TRUE(Settings().Write(kCalibrationKey, "Path", "/srv/calibration"));
  EXPECT_EQ(ReadCalibrationDirectory(), "/srv/calibration/");
  ASSERT_TRUE(Settings().Write(kCalibrationKey, "Path", "/srv/calibration/"));
  EXPECT_EQ(ReadCalibrationDirectory(), "/srv/calibration/");
}

TEST(CalibrationFileNameTest, TheNameIsTheSerialUpToItsFirstNul) {
  char serial[kPlatformSerialBytes];
  Fill(serial, "PS-1234");
  EXPECT_EQ(CalibrationFileName(serial), "PS-1234.bcf");
  EXPECT_EQ(CalibrationFilePath("/srv/cal/", serial), "/srv/cal/PS-1234.bcf");

  Fill(serial, "0123456789ABCDEF");  // no NUL: all sixteen bytes
  EXPECT_EQ(CalibrationFileName(serial), "0123456789ABCDEF.bcf");
}

TEST(CalibrationFileNameTest, SerialsThatNameNoFileOfTheDirectoryGiveNoName) {
  char serial[kPlatformSerialBytes];
  Fill(serial, "");
  EXPECT_FALSE(CalibrationFileName(serial).has_value());
  Fill(serial, "../../etc/x");
  EXPECT_FALSE(CalibrationFileName(serial).has_value());
  EXPECT_FALSE(CalibrationFilePath("/srv/cal/", serial).has_value());
}

}  // namespace
}  // namespace torva
