#include "sim/calibration_receiver.h"

#include <algorithm>

#include "driver/device/crc16_arc.h"

namespace torva::sim {

void CalibrationReceiver::Begin(const CalibrationDownloadHeader& header) {
  received_.clear();
  blocksReceived_ = 0;
  busyLeft_ = 0;
  errorDetail_ = 0;
  streamLength_ = header.streamLength;
  blockCount_ = header.blockCount;
  const auto crcBytes = static_cast<std::int32_t>(kCalibrationCrcBytes);
  if (streamLength_ < crcBytes || streamLength_ > kMaxStreamBytes ||
      blockCount_ != CalibrationBlockCount(streamLength_ - crcBytes)) {
    Fail(kMalformedHeaderDetail);
    return;
  }
  if (header.headerWord1 <= 0 || rejectVersion_) {
    Fail(PlateErrorDetail::kVersionRejected);
    return;
  }
  received_.reserve(static_cast<std::size_t>(streamLength_));
  state_ = PlateDownloadState::kReady;
}

bool CalibrationReceiver::ReceiveBlock(const std::uint8_t* block, std::size_t bytes) {
  if (block == nullptr) return false;
  if (storesEveryBlock_) {
    // This plate stores whatever arrives, busy or not; a block after the last one makes the
    // stored stream longer than announced, which the plate reports as a CRC mismatch.
    if (state_ == PlateDownloadState::kDone) {
      ++blocksReceived_;
      Fail(PlateErrorDetail::kCrcMismatch);
      return true;
    }
    if (state_ != PlateDownloadState::kReady) return false;
  } else if (state_ != PlateDownloadState::kReady || busyLeft_ > 0 || staysBusy_) {
    return false;
  }
  const std::size_t remaining = static_cast<std::size_t>(streamLength_) - received_.size();
  const std::size_t take = std::min({remaining, bytes, kCalibrationBlockBytes});
  const std::size_t start = received_.size();
  received_.insert(received_.end(), block, block + take);
  if (corruptOffset_ >= 0 && static_cast<std::size_t>(corruptOffset_) >= start &&
      static_cast<std::size_t>(corruptOffset_) < received_.size())
    received_[static_cast<std::size_t>(corruptOffset_)] ^= 0x01;
  ++blocksReceived_;
  busyLeft_ = busyQueriesPerBlock_;
  if (received_.size() == static_cast<std::size_t>(streamLength_)) Finish();
  return true;
}

void CalibrationReceiver::Finish() {
  // The stream is the file followed by its CRC, low byte first.
  const std::size_t fileBytes = received_.size() - kCalibrationCrcBytes;
  const std::uint16_t computed = Crc16Arc(received_.data(), fileBytes);
  const auto sent = static_cast<std::uint16_t>(received_[fileBytes] |
                                               (received_[fileBytes + 1] << 8));
  if (computed == sent) {
    state_ = PlateDownloadState::kDone;
  } else {
    Fail(PlateErrorDetail::kCrcMismatch);
  }
}

void CalibrationReceiver::Fail(std::int32_t detail) {
  state_ = PlateDownloadState::kFailed;
  errorDetail_ = detail;
}

PlateStatusBlock CalibrationReceiver::Query() {
  PlateStatusBlock status{};
  status.word0 = blocksReceived_;
  status.word3 = blockCount_;
  if (staysBusy_ || busyLeft_ > 0) {
    if (busyLeft_ > 0) --busyLeft_;
    status.state = static_cast<std::int32_t>(PlateDownloadState::kBusy);
    return status;
  }
  status.state = static_cast<std::int32_t>(state_);
  status.errorDetail = state_ == PlateDownloadState::kFailed ? errorDetail_ : 0;
  return status;
}

}  // namespace torva::sim
