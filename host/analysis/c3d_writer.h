#pragma once
// Writes a capture's rows into a C3D file as they come: the header and parameters first (saying
// 0 frames), then one frame per row, and at the end the frame counts written over the header.
// Memory stays flat however long the capture.
//
// A C3D frame holds every plate: a plate that did not deliver a frame, and frame numbers no plate
// delivered between two rows, are written as zeros and counted. Channels are the plates' own
// forces (N) and moments about their measuring origins (N·mm), so that a reader computes, from the
// corners and origins, the CoP and force in the lab that the layout gives.
//
// When a write fails (a full disk), the file is cut back to its last whole frame and, on Finish,
// its counts say how many frames it holds: what was written stays a valid file.
//
// Threads: one (the program's main thread). Life cycle: construct (writes the header into the
// output), WriteRow for every row, Finish once.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/analysis/c3d_encoder.h"
#include "host/analysis/plate_geometry.h"
#include "host/frame_rows.h"
#include "host/output_file.h"

namespace torva::host::analysis {

class C3dWriter final : public RowSink {
 public:
  // Frame numbers that no plate delivered are filled with zeros up to this many seconds in one
  // gap; a longer gap (a frame count that jumped) is closed up instead, and counted.
  static constexpr double kLongestFilledGapSeconds = 10;

  // `shapes`: per plate in row order, with the description's plates in the same order.
  C3dWriter(OutputFile& file, C3dDescription description, std::vector<PlateShape> shapes);

  void WriteRow(std::int64_t frame, const FrameRow& row) override;
  // Completes the frame counts; false when the file failed at any time.
  bool Finish();

  // Why the description cannot be written as C3D (nothing is written then); empty when it can.
  const std::string& Problem() const { return encoder_.Problem(); }
  std::uint64_t Frames() const { return frames_; }
  // Plate samples written as zeros because the plate did not deliver them.
  std::uint64_t ZeroFilled() const { return zeroFilled_; }
  // Frames no plate delivered in gaps too long to fill.
  std::uint64_t FramesClosedUp() const { return closedUp_; }

 private:
  void WriteFrame(const FrameRow* row);

  OutputFile& file_;
  const C3dEncoder encoder_;
  const std::vector<PlateShape> shapes_;
  const std::int64_t longestFilledGap_;
  std::optional<std::int64_t> lastFrame_;
  std::vector<float> channels_;
  std::vector<std::uint8_t> bytes_;
  std::uint64_t frames_ = 0;
  std::uint64_t zeroFilled_ = 0;
  std::uint64_t closedUp_ = 0;
};

}  // namespace torva::host::analysis
