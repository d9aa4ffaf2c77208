#pragma once
// The recording part of a capture: takes the blocks the frame sink keeps into the CSV and the
// summary, for the requested seconds from the first block. It ends early as stalled when no block
// came for the stall limit once blocks flowed, or none came within the first-block limit (in
// hardware-trigger mode, the capture's length: the first block waits for the trigger); and at once
// when an output has failed.
//
// Threads: the main thread; the sink is fed by the plugin's threads.

#include <chrono>
#include <functional>
#include <string>

#include "host/capture_frame_sink.h"
#include "host/capture_summary.h"
#include "host/csv_frames.h"

namespace torva::host {

// How long the first block may take in software-trigger mode.
inline constexpr std::chrono::seconds kFirstBlockLimit{5};

struct RecordingLimits {
  double seconds = 0;       // recorded from the first block
  double stallSeconds = 0;  // longest pause between blocks
  bool waitForTrigger = false;
  std::chrono::milliseconds firstBlockLimit = kFirstBlockLimit;
  // True once an output can no longer be written: the recording ends there (its caller says why).
  std::function<bool()> outputFailed = [] { return false; };
};

struct RecordingOutcome {
  int status = 0;       // an exit status: success, stalled or output failed
  std::string message;  // why it ended early; empty on success
};

RecordingOutcome Record(CaptureFrameSink& sink, CsvFrames& csv, CaptureSummary& summary,
                        const RecordingLimits& limits);

// "no data from the plates for 2 s: acquisition has stalled (...)".
std::string StallMessage(double seconds);

}  // namespace torva::host
