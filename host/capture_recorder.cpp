#include "host/capture_recorder.h"

#include <algorithm>

#include "host/command_start.h"
#include "host/exit_status.h"

namespace torva::host {

namespace {

using Clock = CaptureFrameSink::Clock;

void TakeUntil(CaptureFrameSink& sink, CsvFrames& csv, CaptureSummary& summary,
               Clock::time_point until) {
  for (const FrameBlock& block : sink.Take(until)) {
    csv.Add(block);
    summary.Add(block);
  }
}

}  // namespace

std::string StallMessage(double seconds) {
  return "no data from the plates for " + NumberText(seconds) +
         " s: acquisition has stalled (an amplifier may have been disconnected)";
}

RecordingOutcome Record(CaptureFrameSink& sink, CsvFrames& csv, CaptureSummary& summary,
                        const RecordingLimits& limits) {
  const auto started = Clock::now();
  const auto firstLimit =
      limits.waitForTrigger ? Milliseconds(limits.seconds) : limits.firstBlockLimit;
  while (!sink.FirstBlockTime() && Clock::now() < started + firstLimit) {
    TakeUntil(sink, csv, summary, started + firstLimit);
    if (limits.outputFailed()) return {kExitOutputFailed, ""};
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
    TakeUntil(sink, csv, summary, std::min(end, last + stall));
    if (limits.outputFailed()) return {kExitOutputFailed, ""};
  }
  TakeUntil(sink, csv, summary, Clock::now());
  return {limits.outputFailed() ? kExitOutputFailed : kExitSuccess, ""};
}

}  // namespace torva::host
