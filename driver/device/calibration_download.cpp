#include "driver/device/calibration_download.h"

#include <utility>

#include "driver/device/command_packet.h"
#include "driver/device/download_status.h"
#include "platform/diagnostic_log.h"

namespace torva {
namespace {

// Queues a command unless one with the same code is already waiting: one block per "ready" and
// one query at a time.
void QueueOnce(CommandQueue& queue, CommandCode code) {
  if (!queue.Contains(static_cast<int>(code))) queue.Push(static_cast<int>(code));
}

}  // namespace

void CalibrationDownload::Request(std::string path) {
  path_ = std::move(path);
  status_ = kDownloadRunning;
  requested_ = true;
}

void CalibrationDownload::Begin(CommandQueue& queue) {
  requested_ = false;
  file_ = CalibrationFile::Load(path_);
  blocksTaken_ = 0;
  busySince_.reset();
  queryDue_.reset();
  if (!file_) {
    TORVA_LOG_WARNING("download: %s cannot be loaded", path_.c_str());
    Finish(kDownloadFileProblem);
    return;
  }
  TORVA_LOG_INFO("download: %s, %d bytes in %d block(s)", path_.c_str(), file_->FileLength(),
                 file_->BlockCount());
  queue.Push(static_cast<int>(CommandCode::kBeginCalibrationDownload));
  queue.Push(static_cast<int>(CommandCode::kReadDownloadStatus));
}

std::size_t CalibrationDownload::BuildPacket(const CommandInfo& info, std::uint8_t* out,
                                             std::size_t capacity) const {
  if (!file_) return 0;
  if (info.payload == PayloadSource::kCalibrationHeader) {
    const CalibrationDownloadHeader header = file_->DownloadHeader();
    return BuildCommandPacket(info, &header, sizeof header, out, capacity);
  }
  static const std::uint8_t kEmptyBlock[kCalibrationBlockBytes] = {};
  const std::uint8_t* block = file_->Block(blocksTaken_);
  return BuildCommandPacket(info, block != nullptr ? block : kEmptyBlock, kCalibrationBlockBytes,
                            out, capacity);
}

void CalibrationDownload::OnBlockReply(std::uint8_t status) {
  if (status == kReplyStatusDone && file_ && blocksTaken_ < file_->BlockCount()) ++blocksTaken_;
}

bool CalibrationDownload::OnPlateStatus(const PlateStatusBlock& status, CommandQueue& queue,
                                        Clock::time_point now) {
  lastPlateStatus_ = status;
  const auto state = static_cast<PlateDownloadState>(status.state);
  if (state == PlateDownloadState::kHandToControl) return true;
  if (state != PlateDownloadState::kBusy) busySince_.reset();
  switch (state) {
    case PlateDownloadState::kHandToControl:
      break;
    case PlateDownloadState::kReady:
      QueueOnce(queue, CommandCode::kCalibrationBlock);
      QueueOnce(queue, CommandCode::kReadDownloadStatus);
      break;
    case PlateDownloadState::kBusy:
      if (!busySince_) busySince_ = now;
      if (now - *busySince_ >= kBusyLimit) {
        TORVA_LOG_WARNING("download: the plate stayed busy for %lld s",
                          static_cast<long long>(kBusyLimit.count()));
        Finish(kDownloadPlateError);
      } else {
        queryDue_ = now + kBusyQueryPause;
      }
      break;
    case PlateDownloadState::kDone:
      Finish(kDownloadComplete);
      break;
    case PlateDownloadState::kFailed:
      TORVA_LOG_WARNING("download: the plate failed it with error detail %d", status.errorDetail);
      Finish(DownloadStatusForPlateError(status.errorDetail));
      break;
  }
  return false;
}

std::optional<CalibrationDownload::Clock::time_point> CalibrationDownload::QueueDueQuery(
    CommandQueue& queue, Clock::time_point now) {
  if (!queryDue_ || now < *queryDue_) return queryDue_;
  queryDue_.reset();
  QueueOnce(queue, CommandCode::kReadDownloadStatus);
  return std::nullopt;
}

void CalibrationDownload::Finish(int status) {
  busySince_.reset();
  queryDue_.reset();
  if (status_.exchange(status) != status) {
    TORVA_LOG_INFO("download: ended with status %d after %d block(s)", status, blocksTaken_);
  }
}

}  // namespace torva
