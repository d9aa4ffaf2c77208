#include "bench/soak/driver_soak.h"

#include <chrono>
#include <cstdio>

#include "bench/bench_support.h"
#include "driver/control/control_limits.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "driver/device/streaming_packet.h"
#include "tools/torvactl/frame_gaps.h"

namespace torva::soak {
namespace {

constexpr int kSamplesPerFrame = static_cast<int>(kSamplesPerPacket);
// How long the reader waits for a data-ready message before looking at the stop flag again.
constexpr std::chrono::milliseconds kReaderWait{100};
// How often Start looks whether the reader's bring-up has ended.
constexpr std::chrono::milliseconds kStartPoll{10};

}  // namespace

bool DriverSoak::Start() {
  reader_ = std::thread([this] { Read(); });
  while (started_.load() == 0) std::this_thread::sleep_for(kStartPoll);
  return started_.load() > 0;
}

// The data-ready messages go to the thread that asked for them, so the reader brings the library
// up itself.
void DriverSoak::Read() {
  if (!bench::PrepareStreaming(amplifiers_, rate_)) {
    bench::ShutDown();
    started_ = -1;
    return;
  }
  fmBroadcastStart();
  started_ = 1;
  const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, amplifiers_};
  torvactl::FrameGaps gaps(kSamplesPerFrame, kRingEntries);
  while (!stopping_.load()) {
    bench::WaitForDataReady(kReaderWait);
    float* frame = nullptr;
    for (int waiting; (waiting = fmDLLTransferFloatData(&frame)) > 0;) {
      gaps.Taken(frame[torva_frame_counter(layout, 0, 0)], waiting);
      // A frame that repeats or steps back counts as lost too: it stands in for one that is not
      // there.
      missingFrames_ = gaps.NotTakenInTime() + gaps.NeverCompleted() + gaps.NotAdvancing();
      ++receivedFrames_;
    }
  }
  fmBroadcastStop();
  finalDropped_ = fmDLLGetDroppedDataCount();
  finalOverruns_ = bench::RingOverruns();
  bench::ShutDown();
}

SoakCounts DriverSoak::Counts() const {
  SoakCounts counts;
  counts.received = receivedFrames_.load() * kSamplesPerFrame;
  counts.fewestReceived = counts.received;
  counts.missing = missingFrames_.load() * kSamplesPerFrame;
  const long long dropped = finalDropped_.load();
  const long long overruns = finalOverruns_.load();
  // While the library runs, its own counters; after the shutdown, what was read before it.
  counts.dropped = dropped >= 0 ? dropped : fmDLLGetDroppedDataCount();
  counts.overruns = overruns >= 0 ? overruns : bench::RingOverruns();
  return counts;
}

void DriverSoak::Stop() {
  stopping_ = true;
  if (reader_.joinable()) reader_.join();
}

}  // namespace torva::soak
