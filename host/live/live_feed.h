#pragma once
// The frame sink of the live view: every pushed block updates the live picture (the latest values
// the page shows), and while a trial records, a copy of the block waits for the main thread,
// which writes the trial's files. The plugin's thread only copies under a short lock: a slow page
// or a slow disk never holds up a push.
//
// A trial holds exactly the frames from the first one no plate had delivered when Record came to
// the newest one any plate had delivered when Stop came. The other plates' blocks up to that frame
// are on their way then, so the trial's blocks keep coming until the owner closes it once every
// plate keeping up has delivered its last frame: a trial has no gap at either end.
//
// Threads: Deliver from the plugin's threads; the server's thread takes views; the main thread
// sets the plates and runs the trials. One lock guards everything. Life cycle: outlives the
// device instances.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/frame_sink.h"
#include "host/live/live_picture.h"

namespace torva::host::live {

class LiveFeed final : public FrameSink {
 public:
  LiveFeed() : picture_(std::vector<std::string>()) {}

  void Deliver(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
               const std::uint32_t* outputs, std::uint32_t outputCount, const float* values,
               std::uint32_t valueCount) override;

  // Starts a new picture of these plates (after a detection), ending any trial.
  void SetPlates(std::vector<std::string> plates);
  // The live view now (a new interval for the Fz ranges starts).
  LiveView TakeView();

  // Begins a trial; the frame it starts from (nothing: from the first frame that comes).
  std::optional<std::int64_t> BeginTrial();
  // The trial's last frame, now that it ends (nothing when no frame came at all). Its blocks keep
  // coming until CloseTrial.
  std::optional<std::int64_t> EndTrial();
  // Whether every plate keeping up has delivered `frame`.
  bool Reached(std::int64_t frame);
  // No more blocks go to the trial (the ones waiting stay until taken).
  void CloseTrial();
  // Waits until a block of the trial waits or `until` has passed, then hands the waiting blocks
  // over.
  std::vector<FrameBlock> TakeTrialBlocks(Clock::time_point until);

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  LivePicture picture_;
  bool trialOpen_ = false;
  std::vector<FrameBlock> waiting_;
};

}  // namespace torva::host::live
