// `torvactl stream`: streams every amplifier and writes one CSV row per sample.
//   torvactl stream [--seconds S] [--rate R] [--format 1|2] [--output FILE] [--zero]
// Frames are taken on the library's data-ready message. A progress line goes to stderr (elapsed
// time, frames, dropped samples per plate) and a per-plate summary ends the run.

#include <unistd.h>

#include <boost/program_options.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "driver/api/TorvaUSBDevice.h"
#include "platform/thread_messages.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/csv_writer.h"
#include "tools/torvactl/library_session.h"

namespace po = boost::program_options;
using Clock = std::chrono::steady_clock;

namespace torvactl {
namespace {

constexpr int kSamplesPerFrame = 16;
constexpr int kChannels = 6;
constexpr const char* kChannelNames[kChannels] = {"Fx", "Fy", "Fz", "Mx", "My", "Mz"};
constexpr const char* kChannelUnits[kChannels] = {"N", "N", "N", "N.m", "N.m", "N.m"};
constexpr auto kProgressInterval = std::chrono::milliseconds(200);

struct StreamOptions {
  double seconds = 5.0;
  int rate = 0;  // 0: keep the amplifiers' rate
  int format = 1;
  std::string output;
  bool zero = false;
};

struct PlateSummary {
  std::string serial;
  long long samples = 0;
  double sumFz = 0.0;
  double peakFz = 0.0;
};

bool ParseOptions(const std::vector<std::string>& arguments, StreamOptions& options) {
  po::options_description description(
      "torvactl stream [--seconds S] [--rate R] [--format 1|2] [--output FILE] [--zero]");
  description.add_options()(
      "seconds", po::value<double>(&options.seconds)->default_value(5.0), "how long to stream")(
      "rate", po::value<int>(&options.rate), "acquisition rate in samples/s (10..3000)")(
      "format", po::value<int>(&options.format)->default_value(1),
      "data format: 1 (a record per plate) or 2 (one counter per row)")(
      "output", po::value<std::string>(&options.output), "CSV file (default: standard output)")(
      "zero", po::bool_switch(&options.zero), "zero every amplifier before the start");
  if (!ParseCommandLine(description, arguments)) return false;
  if (options.seconds <= 0 || !std::isfinite(options.seconds)) {
    std::fprintf(stderr, "torvactl: --seconds must be positive\n");
    return false;
  }
  if (options.rate != 0 && (options.rate < 10 || options.rate > 3000)) {
    std::fprintf(stderr, "torvactl: --rate must be within 10..3000\n");
    return false;
  }
  if (options.format != 1 && options.format != 2) {
    std::fprintf(stderr, "torvactl: --format must be 1 or 2\n");
    return false;
  }
  return true;
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
    if (format == 1) csv.Field(serial + " aux");
  }
  if (format == 2) csv.Field("aux");
  csv.EndRow();
}

// Writes the 16 sample rows of one frame and adds them to the plate summaries.
void WriteFrame(CsvWriter& csv, const float* frame, int plates, int format,
                std::vector<PlateSummary>& summary) {
  for (int s = 0; s < kSamplesPerFrame; ++s) {
    if (format == 1) {
      const float* records = frame + s * plates * 8;
      csv.Integer(static_cast<long long>(records[0]));
      for (int p = 0; p < plates; ++p) {
        const float* record = records + p * 8;
        for (int c = 0; c < kChannels; ++c) csv.Number(record[1 + c]);
        csv.Integer(static_cast<long long>(record[7]));
      }
    } else {
      const float* row = frame + s * (kChannels * plates + 2);
      csv.Integer(static_cast<long long>(row[0]));
      for (int p = 0; p < plates; ++p)
        for (int c = 0; c < kChannels; ++c) csv.Number(row[1 + kChannels * p + c]);
      csv.Integer(static_cast<long long>(row[kChannels * plates + 1]));
    }
    csv.EndRow();
    for (int p = 0; p < plates; ++p) {
      const float fz = format == 1 ? frame[(s * plates + p) * 8 + 3]
                                   : frame[s * (kChannels * plates + 2) + 1 + kChannels * p + 2];
      PlateSummary& plate = summary[static_cast<std::size_t>(p)];
      ++plate.samples;
      plate.sumFz += static_cast<double>(fz);
      if (static_cast<double>(fz) > plate.peakFz) plate.peakFz = static_cast<double>(fz);
    }
  }
}

void PrintProgress(double elapsed, long long frames, int plates, bool terminal) {
  std::fprintf(stderr, "%s%6.1f s  %8lld frames  dropped:", terminal ? "\r" : "", elapsed, frames);
  for (int p = 0; p < plates; ++p) std::fprintf(stderr, " %d", fmDLLGetSavedFailureCountPerDevice(p));
  std::fprintf(stderr, terminal ? "   " : "\n");
}

}  // namespace

int RunStream(const std::vector<std::string>& arguments) {
  StreamOptions options;
  if (!ParseOptions(arguments, options)) return 2;

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
  for (int p = 0; p < plates; ++p) summary[static_cast<std::size_t>(p)].serial = serials[static_cast<std::size_t>(p)];
  WriteHeader(*csv, serials, options.format);

  if (options.rate != 0) fmBroadcastAcquisitionRate(options.rate);
  fmDLLSetUSBPacketSize(512);
  fmDLLSetDataFormat(options.format);
  fmDLLPostDataReadyMessages(1);
  fmDLLPostUserThreadMessages(static_cast<int>(torva::platform::CurrentThreadId()));
  if (options.zero) fmBroadcastZero();
  fmBroadcastStart();

  const bool terminal = isatty(STDERR_FILENO) != 0;
  const auto begin = Clock::now();
  const auto end = begin + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(options.seconds));
  auto nextProgress = begin;
  long long frames = 0;
  for (auto now = begin; now < end; now = Clock::now()) {
    torva::platform::WaitForMessage(std::min<Clock::duration>(end - now, kProgressInterval));
    torva::platform::Message message;
    while (torva::platform::PeekMessage(message, true)) {
    }
    float* frame = nullptr;
    while (fmDLLTransferFloatData(&frame) > 0) {
      WriteFrame(*csv, frame, plates, options.format, summary);
      ++frames;
    }
    if (Clock::now() >= nextProgress) {
      PrintProgress(std::chrono::duration<double>(Clock::now() - begin).count(), frames, plates,
                    terminal);
      nextProgress += kProgressInterval * (terminal ? 1 : 5);
    }
  }
  fmBroadcastStop();
  const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
  PrintProgress(elapsed, frames, plates, terminal);
  if (terminal) std::fprintf(stderr, "\n");
  const bool written = csv->Close();

  std::fprintf(stderr, "\n%-4s %-16s %10s %8s %12s %12s\n", "pos", "plate", "samples", "dropped",
               "mean Fz [N]", "peak Fz [N]");
  for (int p = 0; p < plates; ++p) {
    const PlateSummary& plate = summary[static_cast<std::size_t>(p)];
    std::fprintf(stderr, "%-4d %-16s %10lld %8d %12.1f %12.1f\n", p, plate.serial.c_str(),
                 plate.samples, fmDLLGetSavedFailureCountPerDevice(p),
                 plate.samples ? plate.sumFz / static_cast<double>(plate.samples) : 0.0,
                 plate.peakFz);
  }
  std::fprintf(stderr, "%lld frames in %.1f s (%.1f samples/s per plate)\n", frames, elapsed,
               elapsed > 0 ? static_cast<double>(frames * kSamplesPerFrame) / elapsed : 0.0);
  if (!written) {
    std::fprintf(stderr, "torvactl: writing the CSV output failed\n");
    return 1;
  }
  return 0;
}

}  // namespace torvactl
