#include "host/capture_writers.h"

#include <ctime>
#include <filesystem>

#include "host/command_start.h"

namespace torva::host {
namespace {

const std::string kNoProblem;

// Now, in UTC, as 2026-12-10T05:12:00Z.
std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

analysis::C3dDescription DescribeC3d(const PlatesInLab& lab, double rate,
                                     const std::string& syncMode,
                                     const std::vector<std::string>& layout) {
  analysis::C3dDescription description;
  description.analogRate = rate;
  for (std::size_t plate = 0; plate < lab.names.size(); ++plate) {
    const analysis::C3dPlateFrame frame =
        analysis::DescribeForC3d(lab.placements[plate], lab.shapes[plate]);
    description.plates.push_back({lab.names[plate], frame.cornersMm, frame.originMm});
  }
  description.software = "torva-host";
  description.version = TORVA_VERSION_TEXT;
  description.company = "Torva";
  description.startTimeUtc = UtcNow();
  description.syncMode = syncMode;
  description.layout = layout;
  return description;
}

}  // namespace

CaptureWriters::CaptureWriters(const CaptureOutputs& outputs, const PlatesInLab& lab,
                               std::vector<CsvPlate> columns, const CsvHeading& heading,
                               const std::string& syncMode)
    : outputs_(outputs),
      rows_(lab.names),
      csv_(outputs.csv.Stream(), std::move(columns), heading.appliedRate) {
  csv_.WriteHeading(heading);
  rows_.AddSink(csv_);
  if (outputs_.c3d != nullptr) {
    c3d_.emplace(*outputs_.c3d, DescribeC3d(lab, heading.appliedRate, syncMode, heading.layout),
                 lab.shapes);
    if (c3d_->Problem().empty()) rows_.AddSink(*c3d_);
  }
  if (outputs_.mot != nullptr) {
    mot_.emplace(*outputs_.mot, std::filesystem::path(outputs_.mot->Name()).filename().string(), heading.appliedRate,
                 lab.placements);
    rows_.AddSink(*mot_);
  }
}

const std::string& CaptureWriters::Problem() const {
  return c3d_ ? c3d_->Problem() : kNoProblem;
}

bool CaptureWriters::AnyFailed() const {
  for (const OutputFile* file : {&outputs_.csv, outputs_.c3d, outputs_.mot})
    if (file != nullptr && file->Failure()) return true;
  return false;
}

bool CaptureWriters::Finish(bool csvToStandardOutput) {
  rows_.Finish();
  if (c3d_) c3d_->Finish();
  if (mot_) mot_->Finish();
  // A capture that recorded no frame leaves an earlier file of an output's name as it was.
  const bool recorded = rows_.RowsWritten() > 0;
  csvKept_ = (recorded || csvToStandardOutput) && outputs_.csv.Keep();
  bool failed = false;
  for (OutputFile* file : {&outputs_.csv, outputs_.c3d, outputs_.mot}) {
    if (file == nullptr) continue;
    if (file != &outputs_.csv && recorded) file->Keep();
    if (file->Failure()) {
      Say(*file->Failure());
      failed = true;
    }
  }
  if (c3d_ && c3d_->ZeroFilled() + c3d_->FramesClosedUp() > 0) {
    Say("C3D: " + std::to_string(c3d_->ZeroFilled()) +
        " plate samples not delivered were written as zeros, " +
        std::to_string(c3d_->FramesClosedUp()) + " frames of over-long gaps left out");
  }
  return !failed;
}

}  // namespace torva::host
