#include "host/live/trial_recorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "host/plate_sample.h"

namespace torva::host::live {

namespace fs = std::filesystem;

std::optional<std::string> PrepareTrialFolder(const std::string& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return "cannot create the trials folder " + folder + ": " + error.message();
  if (!fs::is_directory(folder, error)) return "the trials folder " + folder + " is not a folder";
  // A file made and removed proves the folder takes new files.
  std::string why;
  const fs::path probe = fs::path(folder) / ".torva-write-check";
  if (!OutputFile::Open(probe.string(), why)) return "cannot write in the trials folder: " + why;
  return std::nullopt;
}

int NextTrialNumber(const std::string& folder) {
  // trial-NNN.<anything>: one to nine digits between "trial-" and the first dot.
  constexpr std::string_view kPrefix = "trial-";
  constexpr std::size_t kMaxDigits = 9;
  int highest = 0;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, kPrefix.size(), kPrefix) != 0) continue;
    const std::size_t dot = name.find('.', kPrefix.size());
    const std::size_t digits = dot == std::string::npos ? 0 : dot - kPrefix.size();
    if (digits == 0 || digits > kMaxDigits ||
        name.find_first_not_of("0123456789", kPrefix.size()) != dot) {
      continue;
    }
    highest = std::max(highest, std::stoi(name.substr(kPrefix.size(), digits)));
  }
  return highest + 1;
}

std::string TrialName(int number) {
  char text[32];
  std::snprintf(text, sizeof text, "trial-%03d", number);
  return text;
}

std::unique_ptr<TrialRecorder> TrialRecorder::Open(const TrialSetup& setup, int number,
                                                   std::optional<std::int64_t> firstFrame,
                                                   std::string& error) {
  const fs::path base = fs::path(setup.folder) / TrialName(number);
  std::unique_ptr<OutputFile> csv = OutputFile::Open(base.string() + ".csv", error);
  if (!csv) return nullptr;
  std::unique_ptr<OutputFile> c3d =
      OutputFile::Open(base.string() + ".c3d", error, OutputFile::Placement::kReplaceWhenKept,
                       OutputFile::Units::kRecords);
  if (!c3d) return nullptr;
  std::unique_ptr<TrialRecorder> recorder(
      new TrialRecorder(setup, number, firstFrame, std::move(csv), std::move(c3d)));
  if (!recorder->writers_.Problem().empty()) {
    error = "cannot write the trial as C3D: " + recorder->writers_.Problem();
    return nullptr;
  }
  return recorder;
}

TrialRecorder::TrialRecorder(const TrialSetup& setup, int number,
                             std::optional<std::int64_t> firstFrame,
                             std::unique_ptr<OutputFile> csv, std::unique_ptr<OutputFile> c3d)
    : rate_(setup.heading.appliedRate),
      firstFrame_(firstFrame),
      csv_(std::move(csv)),
      c3d_(std::move(c3d)),
      writers_({*csv_, c3d_.get(), nullptr}, setup.lab, setup.columns, setup.heading,
               setup.syncMode) {
  record_.name = TrialName(number);
  record_.peakFz.assign(setup.lab.names.size(), 0.0);
  writers_.Rows().AddSink(*this);
}

TrialRecorder::~TrialRecorder() = default;

void TrialRecorder::Add(const FrameBlock& block) {
  if (block.samples == 0 || block.values.size() % block.samples != 0) return;
  const std::int64_t from = std::max(block.firstFrame, firstFrame_.value_or(block.firstFrame));
  std::int64_t to = block.firstFrame + block.samples - 1;
  if (ended_) {
    if (!lastFrame_) return;
    to = std::min(to, *lastFrame_);
  }
  if (from > to) return;
  if (from == block.firstFrame && to == block.firstFrame + block.samples - 1) {
    writers_.Rows().Add(block);
    return;
  }
  const std::size_t width = block.values.size() / block.samples;
  FrameBlock part;
  part.device = block.device;
  part.firstFrame = from;
  part.samples = static_cast<std::uint32_t>(to - from + 1);
  part.outputs = block.outputs;
  const auto begin = block.values.begin() + static_cast<std::ptrdiff_t>(
                                                static_cast<std::size_t>(from - block.firstFrame) *
                                                width);
  part.values.assign(begin, begin + static_cast<std::ptrdiff_t>(part.samples * width));
  writers_.Rows().Add(part);
}

void TrialRecorder::SetLastFrame(std::optional<std::int64_t> lastFrame) {
  ended_ = true;
  lastFrame_ = lastFrame;
}

std::optional<std::string> TrialRecorder::Failure() const {
  for (const OutputFile* file : {csv_.get(), c3d_.get()})
    if (file->Failure()) return file->Failure();
  return std::nullopt;
}

void TrialRecorder::WriteRow(std::int64_t frame, const FrameRow& row) {
  if (!record_.firstFrame) record_.firstFrame = frame;
  record_.lastFrame = frame;
  ++record_.frames;
  for (std::size_t plate = 0; plate < row.size() && plate < record_.peakFz.size(); ++plate) {
    if (!row[plate]) continue;
    const double fz = (*row[plate])[kFzIndex];
    if (std::fabs(fz) > std::fabs(record_.peakFz[plate])) record_.peakFz[plate] = fz;
  }
}

bool TrialRecorder::Finish(TrialRecord& record) {
  const bool written = writers_.Finish(false);
  record_.seconds = rate_ > 0 ? static_cast<double>(record_.frames) / rate_ : 0;
  // Kept with whole rows (records) also after a failed write, when the trial holds a frame.
  if (record_.frames > 0) {
    for (const OutputFile* file : {c3d_.get(), csv_.get()})
      record_.files.push_back(fs::path(file->Name()).filename().string());
  }
  record = record_;
  return written;
}

}  // namespace torva::host::live
