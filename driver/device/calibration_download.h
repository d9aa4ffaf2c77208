#pragma once
// A smart plate's calibration download as its device thread drives it: the requested file is
// loaded, BeginCalibrationDownload carries its header, and from then on every status the plate
// reports decides the next step: "ready" sends exactly one block followed by one status query,
// "busy" asks again after a short pause, "done" or "failed" ends the download with its status.
// Each block goes out again only when the plate refused it, so no piece of the stream is skipped
// or repeated. A plate that answers "busy" for longer than kBusyLimit has failed the download:
// asking it for ever would keep the device thread and the bus busy for as long as it runs.
//
// The download puts the commands it needs into the device's command queue; the device builds
// their packets here and hands back the replies. Threads: not synchronised; the owning device
// guards every member with its lock, except the status, which any thread may read.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/device/calibration_file.h"
#include "driver/device/calibration_protocol.h"
#include "driver/device/command_queue.h"
#include "driver/device/command_set.h"

namespace torva {

class CalibrationDownload {
 public:
  using Clock = std::chrono::steady_clock;
  // The pause before a busy plate is asked again: the plate is writing what it took, and an
  // answer comes back at once, so asking without a pause would only spin.
  static constexpr std::chrono::milliseconds kBusyQueryPause{5};
  // How long a plate may stay busy without a break before the download counts as failed.
  static constexpr std::chrono::seconds kBusyLimit{30};

  // Remembers the file to download; the status becomes "running" at once.
  void Request(std::string path);
  bool Requested() const { return requested_; }
  // Loads the requested file and queues its header and a status query. A file that cannot be
  // loaded whole ends the download with kDownloadFileProblem and queues nothing.
  void Begin(CommandQueue& queue);
  // The payload packet of a download command: the header, or the block the stream is at (zeros
  // once every block was taken). 0 without a loaded file.
  std::size_t BuildPacket(const CommandInfo& info, std::uint8_t* out, std::size_t capacity) const;
  // The reply to a CalibrationBlock: a block the plate took moves the stream on.
  void OnBlockReply(std::uint8_t status);
  // Acts on a status the plate reported at `now`, queueing what comes next (after "busy": when
  // QueueDueQuery finds the pause over); true when the status is not part of a download and
  // belongs to the control thread.
  bool OnPlateStatus(const PlateStatusBlock& status, CommandQueue& queue, Clock::time_point now);
  // Queues the status query a busy plate is waiting for once its pause is over. Returns when the
  // query will be due while it is not yet; nothing when no query waits.
  std::optional<Clock::time_point> QueueDueQuery(CommandQueue& queue, Clock::time_point now);

  int Status() const { return status_.load(); }
  void SetStatus(int status) { status_ = status; }
  const PlateStatusBlock& LastPlateStatus() const { return lastPlateStatus_; }
  std::int32_t BlocksTaken() const { return blocksTaken_; }

 private:
  void Finish(int status);

  bool requested_ = false;
  std::atomic<int> status_{0};
  std::string path_;
  std::optional<CalibrationFile> file_;
  std::int32_t blocksTaken_ = 0;
  PlateStatusBlock lastPlateStatus_{};
  // Since when the plate has answered "busy" without a break.
  std::optional<Clock::time_point> busySince_;
  // When the next status query to a busy plate goes out.
  std::optional<Clock::time_point> queryDue_;
};

}  // namespace torva
