// `torvactl stream`: streams every amplifier and writes one CSV row per sample.
//   torvactl stream [--seconds S] [--rate R] [--format 1|2] [--output FILE] [--zero]
// Frames are taken on the library's data-ready message. A progress line goes to stderr (elapsed
// time, frames, samples the amplifiers lost per plate, frames not taken in time) and a per-plate
// summary ends the run. A run in which no frame arrives ends as soon as that is clear and fails;
// an amplifier that leaves the bus ends the run at once, naming it (frames need every amplifier,
// so none would come any more).

#include <unistd.h>

#include <boost/program_options.hpp>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/error_record_text.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "platform/thread_messages.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/csv_writer.h"
#include "tools/torvactl/frame_gaps.h"
#include "tools/signals/termination_request.h"
#include "tools/torvactl/amplifier_loss.h"
#include "tools/torvactl/library_session.h"

namespace po = boost::program_options;
using Clock = std::chrono::steady_clock;

namespace torvactl {
namespace {

constexpr int kSamplesPerFrame = TORVA_FRAME_ROWS;
constexpr int kChannels = TORVA_FRAME_CHANNELS;
constexpr int kFz = 2;  // channel index of Fz
constexpr const char* kChannelNames[kChannels] = {"Fx", "Fy", "Fz", "Mx", "My", "Mz"};
constexpr const char* kChannelUnits[kChannels] = {"N", "N", "N", "N.m", "N.m", "N.m"};
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
// The exit status of a stream that an amplifier's loss ended.
constexpr int kExitAmplifierLost = 3;

// Frames the library keeps for the caller before it overwrites the oldest one not yet taken.
constexpr int kRingFrames = 625;
// The time a start may take to deliver its first frame, besides a few packet periods.
constexpr auto kStartMargin = std::chrono::seconds(2);
constexpr int kFirstFramePackets = 4;
// The rates the amplifiers support, in samples per second.
const NumberRule kRateRule{10, 3000, true};
const NumberRule kFormatRule{1, 2, true};

struct StreamOptions {
  double seconds = 5.0;
  int rate = 0;  // 0: keep the amplifiers' rate
  int format = 1;
  std::string output;
  bool zero = false;
};

struct PlateSummary {
  std::string serial;
  int slot = 0;  // the library's per-amplifier counts are kept by slot
  long long samples = 0;
  double sumFz = 0.0;
  double peakFz = 0.0;
};

std::optional<int> ParseOptions(const std::vector<std::string>& arguments,
                                StreamOptions& options) {
  po::options_description description(
      "torvactl stream [--seconds S] [--rate R] [--format 1|2] [--output FILE] [--zero]");
  description.add_options()(
      "seconds", NumberValue("--seconds", options.seconds, kSecondsRule)->default_value("5"),
      "how long to stream (up to 86400)")(
      "rate", NumberValue("--rate", options.rate, kRateRule),
      "acquisition rate in samples/s (10..3000; default: keep the amplifiers' rate)")(
      "format", NumberValue("--format", options.format, kFormatRule)->default_value("1"),
      "data format: 1 (a record per plate) or 2 (one counter per row)")(
      "output", po::value<std::string>(&options.output), "CSV file (default: standard output)")(
      "zero", po::bool_switch(&options.zero), "zero every amplifier before the start");
  return ParseCommandLine(description, arguments);
}

// How long after the start the first frame may take: the margin and a few packet periods at the
// slowest rate in use.
Clock::duration FirstFrameLimit(int requestedRate, int plates) {
  int slowest = requestedRate;
  if (slowest == 0) {
    for (int position = 0; position < plates; ++position) {
      fmDLLSelectDeviceIndex(position);
      const int rate = fmGetAcquisitionRate();
      if (slowest == 0 || (rate > 0 && rate < slowest)) slowest = rate;
    }
  }
  if (slowest < kRateRule.lowest) slowest = static_cast<int>(kRateRule.lowest);
  const double packetSeconds = static_cast<double>(kSamplesPerFrame) / slowest;
  return kStartMargin + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(kFirstFramePackets * packetSeconds));
}

// The position of the amplifier with serial `serial`, -1 when none has it.
int PositionOfAmplifier(const std::string& serial, int plates) {
  for (int position = 0; position < plates; ++position) {
    fmDLLSelectDeviceIndex(position);
    char text[17] = {};
    fmGetAmplifierSerialNumber(text);
    if (serial == text) return position;
  }
  return -1;
}

std::vector<std::string> PlateSerials(int plates) {
  std::vector<std::string> serials;
  for (int position = 0; position < plates; ++position) {
    fmDLLSelectDeviceIndex(position);
    char serial[17] = {};
    fmGetPlatformSerialNumber(serial);
    serials.emplace_back(serial);
  }
  return serials;
}

void WriteHeader(CsvWriter& csv, const std::vector<std::string>& serials, int format) {
  csv.Field("counter");
  for (const std::string& serial : serials) {
    for (int c = 0; c < kChannels; ++c)
      csv.Field(serial + " " + kChannelNames[c] + " [" + kChannelUnits[c] + "]");
    if (format == TORVA_FORMAT_RECORDS) csv.Field(serial + " aux");
  }
  if (format == TORVA_FORMAT_ROWS) csv.Field("aux");
  csv.EndRow();
}

// Writes the 16 sample rows of one frame and adds them to the plate summaries.
void WriteFrame(CsvWriter& csv, const float* frame, int plates, int format,
                std::vector<PlateSummary>& summary) {
  const TorvaFrameLayout layout = {format, plates};
  for (int s = 0; s < kSamplesPerFrame; ++s) {
    csv.Integer(static_cast<long long>(frame[torva_frame_counter(layout, s, 0)]));
    for (int p = 0; p < plates; ++p) {
      for (int c = 0; c < kChannels; ++c) csv.Number(frame[torva_frame_channel(layout, s, p, c)]);
      if (format == TORVA_FORMAT_RECORDS)
        csv.Integer(static_cast<long long>(frame[torva_frame_auxiliary(layout, s, p)]));
    }
    if (format == TORVA_FORMAT_ROWS)
      csv.Integer(static_cast<long long>(frame[torva_frame_auxiliary(layout, s, plates - 1)]));
    csv.EndRow();
    for (int p = 0; p < plates; ++p) {
      const float fz = frame[torva_frame_channel(layout, s, p, kFz)];
      PlateSummary& plate = summary[static_cast<std::size_t>(p)];
      ++plate.samples;
      plate.sumFz += static_cast<double>(fz);
      if (static_cast<double>(fz) > plate.peakFz) plate.peakFz = static_cast<double>(fz);
    }
  }
}

// Samples the amplifier of a plate lost, as the library counted them.
int LostByAmplifier(const PlateSummary& plate) {
  return fmDLLGetSavedFailureCountPerDevice(plate.slot);
}

void PrintProgress(double elapsed, long long frames, const std::vector<PlateSummary>& summary,
                   const FrameGaps& gaps, bool terminal) {
  std::fprintf(stderr, "%s%6.1f s  %8lld frames  lost by amplifiers:", terminal ? "\r" : "",
               elapsed, frames);
  for (const PlateSummary& plate : summary) std::fprintf(stderr, " %d", LostByAmplifier(plate));
  std::fprintf(stderr, "  not taken in time: %lld", gaps.NotTakenInTime());
  std::fprintf(stderr, terminal ? "   " : "\n");
}

void PrintSummary(const std::vector<PlateSummary>& summary, const FrameGaps& gaps,
                  long long frames, double elapsed) {
  std::fprintf(stderr, "\n%-4s %-16s %10s %8s %12s %12s\n", "pos", "plate", "samples", "lost",
               "mean Fz [N]", "peak Fz [N]");
  for (std::size_t p = 0; p < summary.size(); ++p) {
    const PlateSummary& plate = summary[p];
    std::fprintf(stderr, "%-4zu %-16s %10lld %8d %12.1f %12.1f\n", p, plate.serial.c_str(),
                 plate.samples, LostByAmplifier(plate),
                 plate.samples ? plate.sumFz / static_cast<double>(plate.samples) : 0.0,
                 plate.peakFz);
  }
  std::fprintf(stderr, "samples lost by the amplifiers: %d (the 'lost' column, per plate)\n",
               fmDLLGetDroppedDataCount());
  std::fprintf(stderr,
               "frames lost because they were not taken in time: %lld (%lld samples per plate)\n",
               gaps.NotTakenInTime(), gaps.NotTakenInTime() * kSamplesPerFrame);
  std::fprintf(stderr, "%lld frames in %.1f s (%.1f samples/s per plate)\n", frames, elapsed,
               elapsed > 0 ? static_cast<double>(frames * kSamplesPerFrame) / elapsed : 0.0);
}

// Says why a run delivered no frame. Called right after the stop: the stop flag is already set
// then only when no amplifier was streaming, as none acknowledged a stop yet.
void ReportNoFrame(Clock::duration waited) {
  const double seconds = std::chrono::duration<double>(waited).count();
  if (fmDLLGetStopCommandFlag() == 1) {
    std::fprintf(stderr,
                 "torvactl: no amplifier started: every amplifier had declined its last command "
                 "(the library starts only amplifiers whose last command completed); no frame "
                 "arrived in %.1f s\n",
                 seconds);
  } else {
    std::fprintf(stderr,
                 "torvactl: no frame arrived in %.1f s after the start: an amplifier declined "
                 "the start or sends no data, and a frame needs every amplifier\n",
                 seconds);
  }
}

}  // namespace

int RunStream(const std::vector<std::string>& arguments) {
  StreamOptions options;
  if (const auto status = ParseOptions(arguments, options)) return *status;

  // Ctrl-C or a termination signal ends the stream as if its time were up (a second one at once).
  torva::tools::InstallTerminationHandlers();
  std::unique_ptr<CsvWriter> csv = CsvWriter::Open(options.output);
  if (!csv) {
    std::fprintf(stderr, "torvactl: cannot write %s\n", options.output.c_str());
    return 1;
  }
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  const int plates = fmDLLGetDeviceCount();
  if (plates == 0) {
    std::fprintf(stderr, "torvactl: no amplifiers found\n");
    return 1;
  }

  std::vector<PlateSummary> summary(static_cast<std::size_t>(plates));
  const std::vector<std::string> serials = PlateSerials(plates);
  int order[kMaxAmplifiers] = {};
  fmDLLGetPlatformOrder(order);
  for (std::size_t p = 0; p < summary.size(); ++p) {
    summary[p].serial = serials[p];
    summary[p].slot = order[p];
  }
  WriteHeader(*csv, serials, options.format);
  const Clock::duration firstFrameLimit = FirstFrameLimit(options.rate, plates);

  if (options.rate != 0) fmBroadcastAcquisitionRate(options.rate);
  fmDLLSetUSBPacketSize(512);
  fmDLLSetDataFormat(options.format);
  fmDLLPostDataReadyMessages(1);
  fmDLLPostUserThreadMessages(static_cast<int>(torva::platform::CurrentThreadId()));
  if (options.zero) fmBroadcastZero();
  const AmplifierLossWatch lossWatch(torva::api::CurrentErrorRecord());
  std::optional<std::string> lostAmplifier;
  fmBroadcastStart();

  const bool terminal = isatty(STDERR_FILENO) != 0;
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options.seconds));
  // Until the first frame has come the run waits for it, however short it was asked to be, and
  // no longer than the start may take.
  const auto firstFrameDeadline = begin + firstFrameLimit;
  FrameGaps gaps(kSamplesPerFrame, kRingFrames);
  auto nextProgress = begin;
  long long frames = 0;
  for (auto now = begin; now < (frames > 0 ? end : firstFrameDeadline) &&
                         torva::tools::TerminationSignal() == 0;
       now = Clock::now()) {
    const auto stopAt = frames > 0 ? end : firstFrameDeadline;
    torva::platform::WaitForMessage(std::min<Clock::duration>(stopAt - now, kProgressInterval));
    torva::platform::Message message;
    while (torva::platform::PeekMessage(message, true)) {
    }
    float* frame = nullptr;
    for (int waiting; (waiting = fmDLLTransferFloatData(&frame)) > 0;) {
      gaps.Taken(static_cast<double>(frame[0]), waiting);
      WriteFrame(*csv, frame, plates, options.format, summary);
      ++frames;
    }
    if ((lostAmplifier = lossWatch.Lost(torva::api::CurrentErrorRecord()))) break;
    if (Clock::now() >= nextProgress) {
      PrintProgress(std::chrono::duration<double>(Clock::now() - begin).count(), frames, summary,
                    gaps, terminal);
      nextProgress += kProgressInterval * (terminal ? 1 : 5);
    }
  }
  const auto stopped = Clock::now();
  fmBroadcastStop();
  if (lostAmplifier) {
    std::fprintf(stderr,
                 "%storvactl: the amplifier at position %d (serial %s) was disconnected: the "
                 "stream ends here\n",
                 terminal ? "\n" : "", PositionOfAmplifier(*lostAmplifier, plates),
                 lostAmplifier->c_str());
  }
  const int signal = torva::tools::TerminationSignal();
  if (signal != 0) {
    std::fprintf(stderr, "%storvactl: interrupted by %s: the stream ends here\n",
                 terminal ? "\n" : "", torva::tools::TerminationSignalName(signal));
  }
  if (frames == 0) {
    if (terminal) std::fprintf(stderr, "\n");
    if (signal != 0) return torva::tools::TerminationStatus(signal);
    if (lostAmplifier) return kExitAmplifierLost;
    ReportNoFrame(Clock::now() - begin);
    return 1;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
  PrintProgress(elapsed, frames, summary, gaps, terminal);
  if (terminal) std::fprintf(stderr, "\n");
  const bool written = csv->Close();
  PrintSummary(summary, gaps, frames, elapsed);
  if (lostAmplifier && stopped < end) {
    // What the plates would have sent for the rest of the requested time.
    fmDLLSelectDeviceIndex(0);
    const int rate = options.rate != 0 ? options.rate : fmGetAcquisitionRate();
    std::fprintf(stderr, "samples never sent after the loss: about %.0f per plate (%.1f s)\n",
                 std::chrono::duration<double>(end - stopped).count() * rate,
                 std::chrono::duration<double>(end - stopped).count());
  }
  if (!written) {
    std::fprintf(stderr, "torvactl: writing the CSV output failed\n");
    return 1;
  }
  if (lostAmplifier) return kExitAmplifierLost;
  return signal != 0 ? torva::tools::TerminationStatus(signal) : 0;
}

}  // namespace torvactl
