#pragma once
// Lines up the blocks the plates push into rows, one per frame number in ascending order, and
// hands each row to the outputs (CSV, C3D, motion file) as it completes.
//
// A frame is complete once every plate has delivered it or a later one. So that memory stays
// bounded when a plate stops delivering, at most kMaxPendingFrames frames wait; beyond that the
// oldest are handed on with that plate's sample missing. A sample for a frame already handed on is
// dropped and counted. Frame numbers no plate delivered do not appear.
//
// Threads: one (the program's main thread). Life cycle: Finish hands on the frames still waiting.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/frame_sink.h"
#include "host/plate_sample.h"

namespace torva::host {

// One cell per plate, in the order the plates were given; nothing where a plate did not deliver.
using FrameRow = std::vector<std::optional<PlateSample>>;

// An output that takes whole rows.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void WriteRow(std::int64_t frame, const FrameRow& row) = 0;
};

class FrameRows {
 public:
  static constexpr std::size_t kMaxPendingFrames = 4096;

  // `plates`: the instance names of the plates, in column order.
  explicit FrameRows(std::vector<std::string> plates);

  // Rows go to every sink added, in the order added; a sink outlives the rows it is given.
  void AddSink(RowSink& sink) { sinks_.push_back(&sink); }
  // Takes a block of the plate with that instance name; blocks of other devices are ignored.
  void Add(const FrameBlock& block);
  // Hands on every frame still waiting.
  void Finish();

  // Whether no row waits for a plate: every frame taken so far is complete (true before any).
  bool Level() const { return pending_.empty(); }
  std::uint64_t RowsWritten() const { return rowsWritten_; }
  std::uint64_t LateSamples() const { return lateSamples_; }

 private:
  void WriteCompleteRows();
  void WriteRow(std::int64_t frame, const FrameRow& row);

  const std::vector<std::string> plates_;
  std::vector<RowSink*> sinks_;
  std::map<std::int64_t, FrameRow> pending_;
  // Per plate, the frame after the last one it delivered; none before its first block.
  std::vector<std::optional<std::int64_t>> deliveredUpTo_;
  std::optional<std::int64_t> nextUnwritten_;  // frames below it are handed on
  std::uint64_t rowsWritten_ = 0;
  std::uint64_t lateSamples_ = 0;
};

}  // namespace torva::host
