#pragma once
// Writes the captured frames as CSV: comment lines ("# ...") naming the plugin, the plates, the
// rate and the lab layout; the header "frame,time_s" and nine columns per plate (<instance>.Fx_N
// .. .Cz_m); then one row per frame as FrameRows hands them on, time_s = frame / rate, and empty
// cells where a plate did not deliver that frame.
//
// Threads: one (the program's main thread).

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/frame_rows.h"

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
  std::vector<std::string> layout;  // one line per plate: where it stands in the lab
};

class CsvFrames final : public RowSink {
 public:
  CsvFrames(std::ostream& out, std::vector<CsvPlate> plates, double rate);

  // The comment lines and the header row.
  void WriteHeading(const CsvHeading& heading);
  void WriteRow(std::int64_t frame, const FrameRow& row) override;

 private:
  std::ostream& out_;
  const std::vector<CsvPlate> plates_;
  const double rate_;
};

}  // namespace torva::host
