// The smart plate's side of the calibration download, driven the way the device thread drives
// it: header, then one block per "ready" status, status queries in between.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/device/calibration_protocol.h"
#include "driver/device/crc16_arc.h"
#include "host_commands.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_amplifier.h"

namespace torva::sim {
namespace {

using namespace testing;

// A calibration file of `bytes` bytes and the stream sent for it (file + CRC, low byte first).
std::vector<std::uint8_t> File(std::size_t bytes) {
  std::vector<std::uint8_t> file(bytes);
  for (std::size_t i = 0; i < bytes; ++i) file[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return file;
}

std::vector<std::uint8_t> StreamOf(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> stream = file;
  const std::uint16_t crc = Crc16Arc(file.data(), file.size());
  stream.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  stream.push_back(static_cast<std::uint8_t>(crc >> 8));
  return stream;
}

class CalibrationDownload : public ::testing::Test {
 protected:
  CalibrationDownload() : plate_(Smart(), std::chrono::steady_clock::now()) {}

  static AmplifierDescription Smart() {
    AmplifierDescription description = DescribeAmplifier(0, 400);
    description.smartPlateStatus = static_cast<std::int32_t>(SmartPlateStatus::kCalibrationMissing);
    return description;
  }

  bool Begin(std::size_t fileBytes, std::int32_t version = 3) {
    CalibrationDownloadHeader header{};
    header.headerWord1 = version;
    header.streamLength = static_cast<std::int32_t>(fileBytes + kCalibrationCrcBytes);
    header.blockCount = CalibrationBlockCount(static_cast<std::int64_t>(fileBytes));
    header.headerWord2 = 11;
    const auto reply =
        Command(plate_, CommandCode::kBeginCalibrationDownload, &header, sizeof header);
    return reply && reply->status == kReplyStatusDone;
  }

  PlateStatusBlock Query() {
    const auto reply = Command(plate_, CommandCode::kReadDownloadStatus);
    PlateStatusBlock status{};
    status.state = -100;
    if (reply) std::memcpy(&status, reply->payload.data(), sizeof status);
    return status;
  }

  // Sends the stream as the device thread does: one block per "ready", queries while busy.
  // Returns the final status block; `busyAnswers` counts the busy replies seen.
  PlateStatusBlock Download(const std::vector<std::uint8_t>& stream, int* busyAnswers = nullptr,
                            int maxQueries = 1000) {
    std::size_t sent = 0;
    for (int query = 0; query < maxQueries; ++query) {
      const PlateStatusBlock status = Query();
      if (status.state == static_cast<std::int32_t>(PlateDownloadState::kBusy)) {
        if (busyAnswers != nullptr) ++*busyAnswers;
        continue;
      }
      if (status.state != static_cast<std::int32_t>(PlateDownloadState::kReady)) return status;
      std::vector<std::uint8_t> block(kCalibrationBlockBytes, 0);
      const std::size_t take = std::min(kCalibrationBlockBytes, stream.size() - sent);
      std::memcpy(block.data(), stream.data() + sent, take);
      sent += take;
      const auto reply = Command(plate_, CommandCode::kCalibrationBlock, block.data(), block.size());
      EXPECT_TRUE(reply && reply->status == kReplyStatusDone);
    }
    return Query();
  }

  EmulatedAmplifier plate_;
};

TEST_F(CalibrationDownload, AGoodStreamEndsDoneAfterBusySpellsAndCalibratesThePlate) {
  const std::vector<std::uint8_t> stream = StreamOf(File(2047));  // three blocks
  ASSERT_TRUE(Begin(2047));
  int busy = 0;
  const PlateStatusBlock status = Download(stream, &busy);
  EXPECT_EQ(status.state, static_cast<std::int32_t>(PlateDownloadState::kDone));
  EXPECT_EQ(status.word0, 3);  // blocks received
  EXPECT_EQ(busy, 3 * 2);      // two busy answers after each block
  EXPECT_EQ(plate_.ReceivedCalibration(), stream);
  EXPECT_EQ(plate_.Memory().smartPlateStatus,
            static_cast<std::int32_t>(SmartPlateStatus::kCalibrated));
  // The plate's last status block is also in its memory.
  EXPECT_EQ(plate_.Memory().downloadStatus[1], static_cast<std::int32_t>(PlateDownloadState::kDone));
}

TEST_F(CalibrationDownload, AnEmptyFileIsOneBlockHoldingTheCrcAlone) {
  ASSERT_TRUE(Begin(0));
  const PlateStatusBlock status = Download(StreamOf({}));
  EXPECT_EQ(status.state, static_cast<std::int32_t>(PlateDownloadState::kDone));
  EXPECT_EQ(plate_.ReceivedCalibration(), (std::vector<std::uint8_t>{0, 0}));
}

TEST_F(CalibrationDownload, ACorruptedStreamFailsWithCrcMismatch) {
  std::vector<std::uint8_t> stream = StreamOf(File(1500));
  stream[700] ^= 0x40;
  ASSERT_TRUE(Begin(1500));
  const PlateStatusBlock status = Download(stream);
  EXPECT_EQ(status.state, static_cast<std::int32_t>(PlateDownloadState::kFailed));
  EXPECT_EQ(status.errorDetail, static_cast<std::int32_t>(PlateErrorDetail::kCrcMismatch));
  EXPECT_EQ(plate_.Memory().smartPlateStatus,
            static_cast<std::int32_t>(SmartPlateStatus::kCalibrationMissing));
}

TEST_F(CalibrationDownload, ARejectedVersionFailsWithDetailOne) {
  plate_.SetRejectCalibrationVersion(true);
  ASSERT_TRUE(Begin(100));
  PlateStatusBlock status = Query();
  EXPECT_EQ(status.state, static_cast<std::int32_t>(PlateDownloadState::kFailed));
  EXPECT_EQ(status.errorDetail, static_cast<std::int32_t>(PlateErrorDetail::kVersionRejected));
  plate_.SetRejectCalibrationVersion(false);
  ASSERT_TRUE(Begin(100, 0));  // a version of 0 is never valid
  status = Query();
  EXPECT_EQ(status.errorDetail, static_cast<std::int32_t>(PlateErrorDetail::kVersionRejected));
}

TEST_F(CalibrationDownload, AHeaderWhoseLengthsDisagreeFailsAtOnce) {
  CalibrationDownloadHeader header{};
  header.headerWord1 = 1;
  header.streamLength = 3000;
  header.blockCount = 7;
  ASSERT_TRUE(Command(plate_, CommandCode::kBeginCalibrationDownload, &header, sizeof header));
  const PlateStatusBlock status = Query();
  EXPECT_EQ(status.state, static_cast<std::int32_t>(PlateDownloadState::kFailed));
  EXPECT_NE(status.errorDetail, 1);
  EXPECT_NE(status.errorDetail, 2);
}

TEST_F(CalibrationDownload, APlateThatStaysBusyNeverTakesABlock) {
  plate_.SetPlateStaysBusy(true);
  ASSERT_TRUE(Begin(100));
  int busy = 0;
  const PlateStatusBlock status = Download(StreamOf(File(100)), &busy, 50);
  EXPECT_EQ(status.state, static_cast<std::int32_t>(PlateDownloadState::kBusy));
  EXPECT_EQ(busy, 50);
  // A block pushed anyway is refused.
  std::vector<std::uint8_t> block(kCalibrationBlockBytes, 1);
  const auto reply = Command(plate_, CommandCode::kCalibrationBlock, block.data(), block.size());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, kReplyStatusRefused);
  EXPECT_TRUE(plate_.ReceivedCalibration().empty());
}

TEST_F(CalibrationDownload, WithoutADownloadTheStatusIsHandedToTheControlThread) {
  EXPECT_EQ(Query().state, static_cast<std::int32_t>(PlateDownloadState::kHandToControl));
  plate_.SetPlateBusyQueries(0);
  ASSERT_TRUE(Begin(10));
  EXPECT_EQ(Query().state, static_cast<std::int32_t>(PlateDownloadState::kReady));
}

}  // namespace
}  // namespace torva::sim
