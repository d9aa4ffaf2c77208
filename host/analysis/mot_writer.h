#pragma once
// Writes a capture's rows as an OpenSim motion file of ground reactions, one row per frame as the
// CSV has them:
//   <file name> / version=1 / nRows=N / nColumns=M / inDegrees=yes / endheader
//   time  1_ground_force_vx vy vz  1_ground_force_px py pz  1_ground_torque_x y z  2_...
// OpenSim's axes: X = lab x, Y = lab z (up), Z = -lab y. The force is the ground's reaction on the
// person (vy > 0 under someone standing), in N; the point is the CoP in the lab, in m; the torque
// is the free moment about the vertical at the CoP, in N·m. A plate without load (or without a
// sample for the frame) gives zeros, never NaN. nRows is written as a fixed-width number and
// completed when the capture ends, so rows go out as they come.
//
// Threads: one (the program's main thread). Life cycle: construct (writes the header), WriteRow
// for every row, Finish once.

#include <cstdint>
#include <string>
#include <vector>

#include "host/analysis/plate_geometry.h"
#include "host/frame_rows.h"
#include "host/output_file.h"

namespace torva::host::analysis {

class MotWriter final : public RowSink {
 public:
  // `placements`: per plate in row order. `name`: the file's name for its first line.
  MotWriter(OutputFile& file, const std::string& name, double rate,
            std::vector<LabPlacement> placements);

  void WriteRow(std::int64_t frame, const FrameRow& row) override;
  // Completes nRows; false when the file failed at any time.
  bool Finish();

  std::uint64_t Rows() const { return rows_; }

 private:
  OutputFile& file_;
  const double rate_;
  const std::vector<LabPlacement> placements_;
  long long rowCountOffset_ = 0;  // where nRows's digits stand in the file
  std::uint64_t rows_ = 0;
};

}  // namespace torva::host::analysis
