#pragma once
// The trials of a live session: each one a C3D file and a CSV file, trial-NNN.c3d and
// trial-NNN.csv, in the trials folder, numbered on from the highest number the folder holds, so
// that no file is overwritten. A trial takes the frames from its first frame up to its last one,
// which is known only once it ends: blocks are cut to that range before they reach the files.
//
// Threads: the program's main thread. Life cycle: Open when a trial begins, Add while it records
// (and after it ended, for the blocks still waiting), Finish once.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/capture_writers.h"
#include "host/frame_rows.h"
#include "host/output_file.h"

namespace torva::host::live {

// Creates the folder when it does not exist; why it cannot hold trials, or nothing.
std::optional<std::string> PrepareTrialFolder(const std::string& folder);
// One above the highest NNN of the folder's trial-NNN.* files (1 in an empty folder).
int NextTrialNumber(const std::string& folder);
// "trial-007" for 7.
std::string TrialName(int number);

// A finished trial, as the page lists it.
struct TrialRecord {
  std::string name;
  std::uint64_t frames = 0;
  std::optional<std::int64_t> firstFrame;
  std::optional<std::int64_t> lastFrame;
  double seconds = 0;
  std::vector<double> peakFz;  // per plate, the Fz of the largest magnitude (N)
  std::vector<std::string> files;
};

// What every trial of a session shares.
struct TrialSetup {
  std::string folder;
  PlatesInLab lab;
  std::vector<CsvPlate> columns;
  CsvHeading heading;
  std::string syncMode;
};

class TrialRecorder final : private RowSink {
 public:
  // Opens trial `number`'s files; null, with `error` saying why, when they cannot be written.
  static std::unique_ptr<TrialRecorder> Open(const TrialSetup& setup, int number,
                                             std::optional<std::int64_t> firstFrame,
                                             std::string& error);
  ~TrialRecorder() override;

  // The part of the block inside the trial's frames goes to the files.
  void Add(const FrameBlock& block);
  // The trial's last frame (nothing: it holds no frame).
  void SetLastFrame(std::optional<std::int64_t> lastFrame);
  // Whether SetLastFrame was called, and the last frame it gave.
  bool Ended() const { return ended_; }
  const std::optional<std::int64_t>& LastFrame() const { return lastFrame_; }
  // Why a write failed, once one has.
  std::optional<std::string> Failure() const;
  // Completes and keeps the files when the trial holds a frame; false (with `record` listing what
  // was kept) when a write failed.
  bool Finish(TrialRecord& record);
  const std::string& Name() const { return record_.name; }
  // Frames written so far.
  std::uint64_t Frames() const { return record_.frames; }

 private:
  TrialRecorder(const TrialSetup& setup, int number, std::optional<std::int64_t> firstFrame,
                std::unique_ptr<OutputFile> csv, std::unique_ptr<OutputFile> c3d);
  void WriteRow(std::int64_t frame, const FrameRow& row) override;

  const double rate_;
  std::optional<std::int64_t> firstFrame_;
  std::optional<std::int64_t> lastFrame_;
  bool ended_ = false;
  std::unique_ptr<OutputFile> csv_;
  std::unique_ptr<OutputFile> c3d_;
  CaptureWriters writers_;
  TrialRecord record_;
};

}  // namespace torva::host::live
