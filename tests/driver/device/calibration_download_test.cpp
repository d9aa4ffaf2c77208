// The calibration download's steps, driven by a plate scripted in the test through a real
// command queue: which commands go out, in which order, with which block.

#include "driver/device/calibration_download.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/device/command_packet.h"
#include "driver/device/download_status.h"
#include "tests/support/scratch_directory.h"

namespace torva {
namespace {

using ::testing::ElementsAre;

constexpr int kBegin = static_cast<int>(CommandCode::kBeginCalibrationDownload);
constexpr int kBlock = static_cast<int>(CommandCode::kCalibrationBlock);
constexpr int kQuery = static_cast<int>(CommandCode::kReadDownloadStatus);

PlateStatusBlock Plate(PlateDownloadState state, std::int32_t detail = 0) {
  PlateStatusBlock status{};
  status.state = static_cast<std::int32_t>(state);
  status.errorDetail = detail;
  return status;
}

class CalibrationDownloadSteps : public testing::ScratchDirectory {
 protected:
  // A calibration file of `bytes` bytes (product type 300, header words 1..4) in the scratch
  // directory; its path.
  std::string WriteCalibration(std::size_t bytes) {
    std::string file(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) file[i] = static_cast<char>(i * 13 + 5);
    const std::int32_t header[5] = {300, 4, 7, 0, 0};
    std::memcpy(file.data(), header, sizeof header);
    WriteFile(Path("plate.bcf"), file);
    return Path("plate.bcf");
  }

  // Sends what the queue holds, as the device does, until it is empty. A plate that takes a block
  // is busy for one query, then ready again until it holds `blocks`; `refuseBlock` is refused once.
  void Run(int blocks, int refuseBlock = -1) {
    int held = 0;
    bool busy = false;
    for (;;) {
      const auto code = queue_.NextToSend();
      if (!code) {
        // A busy plate's query waits for its pause: the clock moves on to it.
        const auto due = download_.QueueDueQuery(queue_, now_);
        if (!due) {
          if (queue_.Queued() == 0) break;
          continue;
        }
        EXPECT_EQ(*due - now_, CalibrationDownload::kBusyQueryPause);
        now_ = *due;
        continue;
      }
      sent_.push_back(*code);
      const CommandInfo& info = *FindCommand(*code);
      queue_.AfterSend(CommandQueue::SendOutcome::kAwaitingReply, info.confirmed);
      if (*code == kBlock) {
        CommandPacketBuffer packet{};
        ASSERT_GT(download_.BuildPacket(info, packet.data(), packet.size()), 0u);
        blocksSent_.emplace_back(packet.begin() + kPacketHeaderBytes,
                                 packet.begin() + kPacketHeaderBytes + kCalibrationBlockBytes);
        const bool refused = held == refuseBlock && refuseBlock >= 0;
        if (refused) refuseBlock = -1;
        const std::uint8_t status = refused ? 0 : kReplyStatusDone;
        if (!refused) {
          ++held;
          busy = true;
        }
        queue_.OnReply(true, status);
        download_.OnBlockReply(status);
      } else if (*code == kQuery) {
        queue_.OnReply(true, kReplyStatusDone);
        PlateDownloadState state = PlateDownloadState::kReady;
        if (busy) {
          state = PlateDownloadState::kBusy;
          busy = false;
        } else if (held == blocks) {
          state = PlateDownloadState::kDone;
        }
        download_.OnPlateStatus(Plate(state), queue_, now_);
      } else {
        queue_.OnReply(true, kReplyStatusDone);
      }
    }
  }

  CalibrationDownload download_;
  CommandQueue queue_;
  CalibrationDownload::Clock::time_point now_{};
  std::vector<int> sent_;
  std::vector<std::vector<std::uint8_t>> blocksSent_;
};

TEST_F(CalibrationDownloadSteps, EachBlockGoesOutOnceAfterReadyAndARefusedOneAgainAsItWas) {
  const std::string path = WriteCalibration(2500);  // 2502 bytes with the CRC: three blocks
  download_.Request(path);
  EXPECT_EQ(download_.Status(), kDownloadRunning);
  download_.Begin(queue_);
  Run(3, /*refuseBlock=*/1);
  EXPECT_THAT(sent_, ElementsAre(kBegin, kQuery,          // header, ready
                                 kBlock, kQuery, kQuery,  // block 0, busy, ready
                                 kBlock, kBlock,          // block 1 refused, sent again
                                 kQuery, kQuery,          // busy, ready
                                 kBlock, kQuery, kQuery)); // block 2, busy, done
  EXPECT_EQ(download_.Status(), kDownloadComplete);
  EXPECT_EQ(download_.BlocksTaken(), 3);
  const auto file = CalibrationFile::Load(path);
  ASSERT_TRUE(file);
  ASSERT_EQ(blocksSent_.size(), 4u);
  const std::vector<int> streamBlock = {0, 1, 1, 2};
  for (std::size_t i = 0; i < blocksSent_.size(); ++i) {
    const std::uint8_t* expected = file->Block(streamBlock[i]);
    EXPECT_TRUE(std::equal(blocksSent_[i].begin(), blocksSent_[i].end(), expected)) << i;
  }
}

TEST_F(CalibrationDownloadSteps, EndsWithTheStatusOfWhatWentWrong) {
  download_.Request(Path("missing.bcf"));
  download_.Begin(queue_);
  EXPECT_EQ(download_.Status(), kDownloadFileProblem);
  EXPECT_EQ(queue_.Queued(), 0);

  const struct {
    std::int32_t detail;
    int status;
  } failures[] = {{1, kDownloadVersionRejected}, {2, kDownloadCrcMismatch}, {7, kDownloadPlateError}};
  for (const auto& failure : failures) {
    download_.Request(WriteCalibration(100));
    download_.Begin(queue_);
    EXPECT_FALSE(
        download_.OnPlateStatus(Plate(PlateDownloadState::kFailed, failure.detail), queue_, now_));
    EXPECT_EQ(download_.Status(), failure.status) << failure.detail;
  }
  // A status outside a download belongs to the control thread and changes nothing here.
  EXPECT_TRUE(download_.OnPlateStatus(Plate(PlateDownloadState::kHandToControl), queue_, now_));
  EXPECT_EQ(download_.Status(), kDownloadPlateError);
}

// A plate that never stops answering "busy" is asked again only after each pause, and once it has
// been busy for the limit without a break the download fails and nothing more goes out.
TEST_F(CalibrationDownloadSteps, APlateThatStaysBusyIsAskedAtAPaceAndGivenUpAfterTheLimit) {
  download_.Request(WriteCalibration(100));
  download_.Begin(queue_);
  const auto sendAll = [this] {
    int queries = 0;
    while (const auto code = queue_.NextToSend()) {
      queries += *code == kQuery;
      queue_.AfterSend(CommandQueue::SendOutcome::kAwaitingReply, FindCommand(*code)->confirmed);
      queue_.OnReply(true, kReplyStatusDone);
    }
    return queries;
  };
  sendAll();
  const auto busy = Plate(PlateDownloadState::kBusy);
  download_.OnPlateStatus(busy, queue_, now_);
  now_ += std::chrono::seconds(20);
  download_.OnPlateStatus(busy, queue_, now_);
  download_.OnPlateStatus(Plate(PlateDownloadState::kReady), queue_, now_);  // a break
  sendAll();
  const auto breakTime = now_;
  int queries = 0;
  for (;;) {
    download_.OnPlateStatus(busy, queue_, now_);
    const auto due = download_.QueueDueQuery(queue_, now_);
    if (!due) break;
    ASSERT_EQ(*due - now_, CalibrationDownload::kBusyQueryPause);
    EXPECT_EQ(sendAll(), 0);  // nothing before the pause is over
    now_ = *due;
    EXPECT_FALSE(download_.QueueDueQuery(queue_, now_));
    ASSERT_EQ(sendAll(), 1);
    ++queries;
  }
  EXPECT_EQ(download_.Status(), kDownloadPlateError);
  EXPECT_EQ(now_ - breakTime, CalibrationDownload::kBusyLimit);
  EXPECT_EQ(queries, CalibrationDownload::kBusyLimit / CalibrationDownload::kBusyQueryPause);
  EXPECT_FALSE(download_.QueueDueQuery(queue_, now_ + std::chrono::hours(1)));
  EXPECT_EQ(sendAll(), 0);
}

}  // namespace
}  // namespace torva
