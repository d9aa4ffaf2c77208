#include "host/analysis/mot_writer.h"

#include <array>
#include <cstdio>

#include "host/analysis/host_sample.h"

namespace torva::host::analysis {
namespace {

// nRows is written with this many digits, leading zeros, and completed at the end.
constexpr int kRowCountDigits = 12;
constexpr double kMetresPerMillimetre = 0.001;
constexpr std::array<const char*, 9> kColumnSuffixes = {
    "ground_force_vx", "ground_force_vy", "ground_force_vz", "ground_force_px", "ground_force_py",
    "ground_force_pz", "ground_torque_x", "ground_torque_y", "ground_torque_z"};

std::string RowCountText(std::uint64_t rows) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llu", kRowCountDigits, static_cast<unsigned long long>(rows));
  return text;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

// Lab axes to OpenSim's: X = x, Y = z, Z = -y.
Vector3 ToOpenSim(const Vector3& lab) { return {lab[0], lab[2], -lab[1]}; }

}  // namespace

MotWriter::MotWriter(OutputFile& file, const std::string& name, double rate,
                     std::vector<LabPlacement> placements)
    : file_(file), rate_(rate), placements_(std::move(placements)) {
  std::ostream& out = file_.Stream();
  out << name << "\nversion=1\n";
  file_.Flush();
  const std::string rowCountKey = "nRows=";
  rowCountOffset_ = file_.Written() + static_cast<long long>(rowCountKey.size());
  out << rowCountKey << RowCountText(0) << "\nnColumns=" << 1 + kColumnSuffixes.size() * placements_.size()
      << "\ninDegrees=yes\nendheader\ntime";
  for (std::size_t plate = 1; plate <= placements_.size(); ++plate)
    for (const char* suffix : kColumnSuffixes) out << '\t' << plate << '_' << suffix;
  out << '\n';
}

void MotWriter::WriteRow(std::int64_t frame, const FrameRow& row) {
  std::ostream& out = file_.Stream();
  out << Number(static_cast<double>(frame) / rate_);
  for (std::size_t plate = 0; plate < placements_.size(); ++plate) {
    const HostSample sample =
        plate < row.size() && row[plate] ? ToHostSample(*row[plate]) : HostSample{};
    Vector3 force{}, point{}, torque{};
    if (Loaded(sample)) {
      const Vector3 applied = LabForce(sample, placements_[plate]);
      force = ToOpenSim({-applied[0], -applied[1], -applied[2]});
      const Vector3 cop = LabCop(sample, placements_[plate]);
      point = ToOpenSim({cop[0] * kMetresPerMillimetre, cop[1] * kMetresPerMillimetre,
                         cop[2] * kMetresPerMillimetre});
      torque = ToOpenSim({0, 0, -FreeMomentAtCop(sample)});
    }
    for (const Vector3* values : {&force, &point, &torque})
      for (const double value : *values) out << '\t' << Number(value + 0.0);
  }
  out << '\n';
  ++rows_;
}

bool MotWriter::Finish() {
  file_.Flush();
  const std::string count = RowCountText(rows_);
  file_.WriteAt(rowCountOffset_, std::vector<std::uint8_t>(count.begin(), count.end()));
  return !file_.Failure();
}

}  // namespace torva::host::analysis
