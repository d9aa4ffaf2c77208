#include "host/capture_recorder.h"

#include <algorithm>

#include "host/command_start.h"
#include "host/exit_status.h"
#include "tools/signals/termination_request.h"

namespace torva::host {

namespace {

using Clock = CaptureFrameSink::Clock;

// Takes the blocks that arrive until `until`, waiting no longer than the poll interval.
void TakeUntil(CaptureFrameSink& sink, FrameRows& rows, CaptureSummary& summary,
               Clock::time_point until) {
  for (const FrameBlock& block :
       sink.Take(std::min(until, Clock::now() + tools::kTerminationPollInterval))) {
    rows.Add(block);
    summary.Add(block);
  }
}

// The plugin pushes each frame plate by plate, so a recording that ends at an arbitrary moment may
// hold a frame some plates have delivered and others not yet: the blocks still coming are taken
// until every row is whole, for at most kFrameBoundaryLimit (a plate that stopped is not waited
// for).
constexpr std::chrono::milliseconds kFrameBoundaryLimit{250};

void TakeToAFrameBoundary(CaptureFrameSink& sink, FrameRows& rows, CaptureSummary& summary) {
  const auto limit = Clock::now() + kFrameBoundaryLimit;
  TakeUntil(sink, rows, summary, Clock::now());
  while (!rows.Level() && Clock::now() < limit) TakeUntil(sink, rows, summary, limit);
}

}  // namespace

std::string StallMessage(double seconds) {
  return "no data from the plates for " + NumberText(seconds) +
         " s: acquisition has stalled (an amplifier may have been disconnected)";
}

RecordingOutcome Record(CaptureFrameSink& sink, FrameRows& rows, CaptureSummary& summary,
                        const RecordingLimits& limits) {
  const auto started = Clock::now();
  const auto firstLimit =
      limits.waitForTrigger ? Milliseconds(limits.seconds) : limits.firstBlockLimit;
  while (!sink.FirstBlockTime() && Clock::now() < started + firstLimit) {
    TakeUntil(sink, rows, summary, started + firstLimit);
    if (const auto status = limits.endNow()) return {*status, ""};
  }
  const auto first = sink.FirstBlockTime();
  if (!first) {
    return {kExitStalled,
            limits.waitForTrigger
                ? "no hardware trigger seen"
                : StallMessage(std::chrono::duration<double>(limits.firstBlockLimit).count())};
  }
  const auto end = *first + Milliseconds(limits.seconds);
  const auto stall = Milliseconds(limits.stallSeconds);
  for (;;) {
    const auto last = sink.LastBlockTime().value_or(*first);
    const auto now = Clock::now();
    if (now >= end) break;
    if (now - last >= stall) return {kExitStalled, StallMessage(limits.stallSeconds)};
    TakeUntil(sink, rows, summary, std::min(end, last + stall));
    if (const auto status = limits.endNow()) {
      TakeToAFrameBoundary(sink, rows, summary);
      return {*status, ""};
    }
  }
  TakeToAFrameBoundary(sink, rows, summary);
  return {limits.endNow().value_or(kExitSuccess), ""};
}

}  // namespace torva::host
