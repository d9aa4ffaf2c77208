#pragma once
// Writes the captured frames as CSV: comment lines ("# ...") naming the plugin, the plates and
// the rate; the header "frame,time_s" and nine columns per plate (<instance>.Fx_N .. .Cz_m); then
// one row per frame number in ascending order, time_s = frame / rate, and empty cells where a
// plate did not deliver that frame.
//
// Rows are written as frames complete: a frame is complete once every plate has delivered it or a
// later one. So that memory stays bounded when a plate stops delivering, at most kMaxPendingFrames
// frames wait; beyond that the oldest are written with that plate's cells empty. A sample for a
// frame already written is dropped and counted.
//
// Threads: one (the program's main thread). Life cycle: Finish writes the frames still waiting.

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "host/frame_sink.h"
#include "host/plate_sample.h"

namespace torva::host {

struct CsvPlate {
  std::string instance;    // the instance name, which prefixes its columns
  std::string definition;  // maker, name and version of its definition
};

struct CsvHeading {
  std::string plugin;         // the plugin's path
  std::string requestedRate;  // the rate text as given
  double appliedRate = 0;     // samples per second in force
  std::uint64_t ticksPerSample = 0;
  std::uint64_t clockRate = 0;
};

class CsvFrames {
 public:
  static constexpr std::size_t kMaxPendingFrames = 4096;

  CsvFrames(std::ostream& out, std::vector<CsvPlate> plates, double rate);

  // The comment lines and the header row.
  void WriteHeading(const CsvHeading& heading);
  // Takes a block of the plate with that instance name; blocks of other devices are ignored.
  void Add(const FrameBlock& block);
  // Writes every frame still waiting.
  void Finish();

  // Whether no row waits for a plate: every frame taken so far is complete (true before any).
  bool Level() const { return pending_.empty(); }
  std::uint64_t RowsWritten() const { return rowsWritten_; }
  std::uint64_t LateSamples() const { return lateSamples_; }

 private:
  using Row = std::vector<std::optional<PlateSample>>;  // one cell group per plate

  void WriteCompleteRows();
  void WriteRow(std::int64_t frame, const Row& row);

  std::ostream& out_;
  const std::vector<CsvPlate> plates_;
  const double rate_;
  std::map<std::int64_t, Row> pending_;
  // Per plate, the frame after the last one it delivered; none before its first block.
  std::vector<std::optional<std::int64_t>> deliveredUpTo_;
  std::optional<std::int64_t> nextUnwritten_;  // frames below it are written
  std::uint64_t rowsWritten_ = 0;
  std::uint64_t lateSamples_ = 0;
};

}  // namespace torva::host
