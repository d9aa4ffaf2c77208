#pragma once
// The files a capture writes, fed by one FrameRows: the CSV always, a C3D file and an OpenSim
// motion file when their outputs are given; the plates placed in the lab as `lab` says.
//
// Threads: one (the program's main thread). Life cycle: construct once the rate is known (the
// headings go out at once), add rows through Rows() while recording, Finish once.

#include <optional>
#include <string>
#include <vector>

#include "host/analysis/c3d_writer.h"
#include "host/analysis/mot_writer.h"
#include "host/csv_frames.h"
#include "host/frame_rows.h"
#include "host/output_file.h"
#include "host/plate_placement.h"

namespace torva::host {

// Where a capture goes: the CSV always, a C3D file and an OpenSim motion file when asked for.
struct CaptureOutputs {
  OutputFile& csv;
  OutputFile* c3d = nullptr;
  OutputFile* mot = nullptr;
};

class CaptureWriters {
 public:
  // `heading`: the CSV's heading; its layout lines go into the C3D file too. `syncMode` is the
  // sync mode's name for the C3D file.
  CaptureWriters(const CaptureOutputs& outputs, const PlatesInLab& lab,
                 std::vector<CsvPlate> columns, const CsvHeading& heading,
                 const std::string& syncMode);

  // Why the C3D file cannot be written (nothing is written to it then); empty when it can.
  const std::string& Problem() const;
  FrameRows& Rows() { return rows_; }
  // Whether a write to any of the files has failed.
  bool AnyFailed() const;

  // Hands on the rows still waiting, completes the C3D and motion files, and keeps every file
  // when the capture recorded a frame (the CSV also without one when it goes to standard
  // output); says every failure and the C3D file's zero-filled samples on standard error.
  // False when a file failed.
  bool Finish(bool csvToStandardOutput);
  // Whether the CSV file was kept under its name.
  bool CsvKept() const { return csvKept_; }

 private:
  const CaptureOutputs outputs_;
  FrameRows rows_;
  CsvFrames csv_;
  std::optional<analysis::C3dWriter> c3d_;
  std::optional<analysis::MotWriter> mot_;
  bool csvKept_ = false;
};

}  // namespace torva::host
