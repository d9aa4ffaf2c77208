#pragma once
// The smart plate's side of a calibration download: it takes the header, collects the 1024-byte
// blocks of the stream, reports its state on every status query (busy for a few queries after
// each block) and checks the stream's CRC-16/ARC once the last block is in.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/device/calibration_protocol.h"

namespace torva::sim {

class CalibrationReceiver {
 public:
  // The largest stream the plate's calibration memory holds.
  static constexpr std::int32_t kMaxStreamBytes = 1 << 20;
  // Error detail for a header the plate cannot use (length and block count disagree, or too big).
  static constexpr std::int32_t kMalformedHeaderDetail = 3;

  // Starts a download. A header whose lengths disagree or exceed the plate's memory fails the
  // download at once; a version (header word 1) of 0 or less, or any version while
  // `RejectVersion` is set, fails it with kVersionRejected.
  void Begin(const CalibrationDownloadHeader& header);
  // Takes the next block; false (and nothing stored) when the plate is not ready for one.
  bool ReceiveBlock(const std::uint8_t* block, std::size_t bytes);
  // Answers one status query.
  PlateStatusBlock Query();

  // A download ended with a correct CRC since the last Begin.
  bool Succeeded() const { return state_ == PlateDownloadState::kDone; }
  const std::vector<std::uint8_t>& Received() const { return received_; }
  std::int32_t BlocksReceived() const { return blocksReceived_; }

  // Fault knobs.
  void SetBusyQueriesPerBlock(int queries) { busyQueriesPerBlock_ = queries < 0 ? 0 : queries; }
  void SetStaysBusy(bool staysBusy) { staysBusy_ = staysBusy; }
  void SetRejectVersion(bool reject) { rejectVersion_ = reject; }
  // The plate acknowledges and stores every block it receives, in arrival order, even while it
  // reports busy: a block sent twice ends the download with a CRC mismatch.
  void SetStoresEveryBlock(bool stores) { storesEveryBlock_ = stores; }
  // Flips one bit of the stream byte at `offset` as it arrives (a transmission error).
  void CorruptByteAt(std::int32_t offset) { corruptOffset_ = offset; }

 private:
  void Fail(PlateErrorDetail detail) { Fail(static_cast<std::int32_t>(detail)); }
  void Fail(std::int32_t detail);
  void Finish();

  PlateDownloadState state_ = PlateDownloadState::kHandToControl;  // no download yet
  std::int32_t errorDetail_ = 0;
  std::int32_t streamLength_ = 0;
  std::int32_t blockCount_ = 0;
  std::int32_t blocksReceived_ = 0;
  int busyLeft_ = 0;
  int busyQueriesPerBlock_ = 2;
  bool staysBusy_ = false;
  bool rejectVersion_ = false;
  bool storesEveryBlock_ = false;
  std::int32_t corruptOffset_ = -1;
  std::vector<std::uint8_t> received_;
};

}  // namespace torva::sim
