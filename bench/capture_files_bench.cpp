// torva-host's outputs at scale: emulated plates through the whole chain into a capture that
// writes the CSV, a C3D file and an OpenSim motion file as torva-host does. Prints the frames the
// plates missed, the writing thread's CPU share, the process's resident memory after 10 s and at
// the end (flat when the writers keep nothing per frame), and the files' sizes.
//   bench_capture_files [seconds=60] [plates=25] [rate=2000]

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "bench/bench_support.h"
#include "bench/chain_session.h"
#include "host/capture_frame_sink.h"
#include "host/capture_summary.h"
#include "host/capture_writers.h"

using namespace torva;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kFirstMemorySample = 10;  // seconds into the capture

double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Resident memory of the process, in MiB.
double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
         (1024.0 * 1024.0);
}

std::unique_ptr<host::OutputFile> Open(const std::string& path, host::OutputFile::Units units) {
  std::string error;
  auto file = host::OutputFile::Open(path, error, host::OutputFile::Placement::kReplaceWhenKept,
                                     units);
  if (!file) std::fprintf(stderr, "%s\n", error.c_str());
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int plates = argc > 2 ? std::atoi(argv[2]) : 25;
  const std::string rate = argc > 3 ? argv[3] : "2000";
  const std::string directory = "/tmp/torva-bench-files";
  bench::UseEmulatedPlates(plates, directory);

  host::CaptureFrameSink sink;
  bench::ChainSession session(sink);
  if (!session.Open()) return 1;
  const host::PlatesInLab lab = host::PlacePlates(std::nullopt, session.Plates());
  const auto csvFile = Open(directory + "/capture.csv", host::OutputFile::Units::kLines);
  const auto c3dFile = Open(directory + "/capture.c3d", host::OutputFile::Units::kRecords);
  const auto motFile = Open(directory + "/capture.mot", host::OutputFile::Units::kLines);
  if (!csvFile || !c3dFile || !motFile) return 1;

  sink.SetRecording(true);
  const double applied = session.StartCapture(rate);
  std::vector<host::CsvPlate> columns;
  for (const std::string& name : lab.names) columns.push_back({name, "bench"});
  host::CaptureWriters writers({*csvFile, c3dFile.get(), motFile.get()}, lab, columns,
                              {"bench", rate, applied, 0, host::HostServices::kClockRate,
                               LayoutLines(lab)},
                              "Software trigger");
  host::FrameRows& rows = writers.Rows();
  host::CaptureSummary summary(lab.names);

  // The writing thread is this one: it takes the blocks and writes every row, as torva-host does.
  double writingCpu = 0;
  std::optional<double> firstMemory;
  std::optional<Clock::time_point> began;
  for (;;) {
    const auto now = Clock::now();
    if (began && now - *began >= std::chrono::duration<double>(seconds)) break;
    if (began && !firstMemory && now - *began >= std::chrono::duration<double>(kFirstMemorySample))
      firstMemory = ResidentMiB();
    auto blocks = sink.Take(now + std::chrono::milliseconds(50));
    const double cpuBefore = ThreadCpuSeconds();
    for (const host::FrameBlock& block : blocks) {
      rows.Add(block);
      summary.Add(block);
    }
    writingCpu += ThreadCpuSeconds() - cpuBefore;
    if (!began && !blocks.empty()) began = Clock::now();
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - *began).count();
  const double lastMemory = ResidentMiB();
  session.Close();
  const double cpuBefore = ThreadCpuSeconds();
  const bool kept = writers.Finish(false);
  writingCpu += ThreadCpuSeconds() - cpuBefore;

  unsigned long long missing = 0;
  for (const auto& plate : summary.Plates()) missing += plate.MissingFrames();
  std::printf("plates                 %zu of %d, rate %.0f samples/s\n", lab.names.size(), plates,
              applied);
  std::printf("rows written           %llu in %.1f s\n",
              static_cast<unsigned long long>(rows.RowsWritten()), elapsed);
  std::printf("missing frames         %llu (all plates)\n", missing);
  std::printf("writing thread CPU     %.1f%% of one core (%.2f s)\n",
              100.0 * writingCpu / elapsed, writingCpu);
  std::printf("resident memory        %.1f MiB at %.0f s, %.1f MiB at %.0f s\n",
              firstMemory.value_or(0), kFirstMemorySample, lastMemory, elapsed);
  for (const char* name : {"capture.csv", "capture.c3d", "capture.mot"}) {
    std::printf("%-22s %.1f MiB\n", name,
                static_cast<double>(std::filesystem::file_size(directory + "/" + name)) /
                    (1024.0 * 1024.0));
  }
  return kept ? 0 : 1;
}
