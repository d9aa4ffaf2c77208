#pragma once
// The recording part of a capture: takes the blocks the frame sink keeps into the rows of the
// outputs and the summary, for the requested seconds from the first block. It ends early as
// stalled when no block came for the stall limit once blocks flowed, or none came within the
// first-block limit (in hardware-trigger mode, the capture's length: the first block waits for
// the trigger); and at once when its caller says so (an output failed, the program was asked to
// end).
//
// Threads: the main thread; the sink is fed by the plugin's threads.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "host/capture_frame_sink.h"
#include "host/capture_summary.h"
#include "host/frame_rows.h"

namespace torva::host {

// How long the first block may take in software-trigger mode.
inline constexpr std::chrono::seconds kFirstBlockLimit{5};

struct RecordingLimits {
  double seconds = 0;       // recorded from the first block
  double stallSeconds = 0;  // longest pause between blocks
  bool waitForTrigger = false;
  std::chrono::milliseconds firstBlockLimit = kFirstBlockLimit;
  // Asked after every wait (at least every kTerminationPollInterval): the exit status to end the
  // recording with at once, or nothing to go on. The caller says why.
  std::function<std::optional<int>()> endNow = [] { return std::optional<int>(); };
};

struct RecordingOutcome {
  int status = 0;       // an exit status: success, stalled, or what endNow gave
  std::string message;  // why it ended early; empty on success
};

RecordingOutcome Record(CaptureFrameSink& sink, FrameRows& rows, CaptureSummary& summary,
                        const RecordingLimits& limits);

// "no data from the plates for 2 s: acquisition has stalled (...)".
std::string StallMessage(double seconds);

}  // namespace torva::host
