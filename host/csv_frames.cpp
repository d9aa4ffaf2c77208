#include "host/csv_frames.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace torva::host {

namespace {

// Column suffixes in sample order, units included.
constexpr std::array<const char*, kValuesPerSample> kColumnSuffixes = {
    "Fx_N", "Fy_N", "Fz_N", "Mx_Nm", "My_Nm", "Mz_Nm", "Cx_m", "Cy_m", "Cz_m"};

// Shortest text that reads back as the same float.
std::string FloatText(float value) {
  constexpr int kFloatDigits = 9;
  char text[32];
  std::snprintf(text, sizeof text, "%.*g", kFloatDigits, static_cast<double>(value));
  // Fewer digits where they are enough.
  for (int digits = 1; digits < kFloatDigits; ++digits) {
    char shorter[32];
    std::snprintf(shorter, sizeof shorter, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(shorter, nullptr) == value) return shorter;
  }
  return text;
}

// A time in seconds, to the microsecond.
std::string SecondsText(double seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%.6f", seconds);
  return text;
}

}  // namespace

CsvFrames::CsvFrames(std::ostream& out, std::vector<CsvPlate> plates, double rate)
    : out_(out), plates_(std::move(plates)), rate_(rate), deliveredUpTo_(plates_.size()) {}

void CsvFrames::WriteHeading(const CsvHeading& heading) {
  out_ << "# plugin: " << heading.plugin << '\n';
  for (const CsvPlate& plate : plates_)
    out_ << "# plate: " << plate.instance << " (" << plate.definition << ")\n";
  out_ << "# rate: requested " << heading.requestedRate << ", applied " << heading.appliedRate
       << " samples/s (" << heading.clockRate << " / " << heading.ticksPerSample
       << " ticks per sample)\n";
  out_ << "frame,time_s";
  for (const CsvPlate& plate : plates_)
    for (const char* suffix : kColumnSuffixes) out_ << ',' << plate.instance << '.' << suffix;
  out_ << '\n';
}

void CsvFrames::Add(const FrameBlock& block) {
  const auto found = std::find_if(plates_.begin(), plates_.end(), [&](const CsvPlate& plate) {
    return plate.instance == block.device;
  });
  if (found == plates_.end()) return;
  const std::size_t plate = static_cast<std::size_t>(found - plates_.begin());
  for (std::uint32_t sample = 0; sample < block.samples; ++sample) {
    const std::int64_t frame = block.firstFrame + sample;
    const auto values = SampleOf(block, sample);
    if (!values) continue;
    if (nextUnwritten_ && frame < *nextUnwritten_) {
      ++lateSamples_;
      continue;
    }
    Row& row = pending_[frame];
    row.resize(plates_.size());
    row[plate] = *values;
  }
  const std::int64_t after = block.firstFrame + block.samples;
  deliveredUpTo_[plate] = std::max(deliveredUpTo_[plate].value_or(after), after);
  WriteCompleteRows();
}

void CsvFrames::WriteCompleteRows() {
  std::optional<std::int64_t> complete;  // frames below it are complete
  for (const auto& upTo : deliveredUpTo_) {
    if (!upTo) {
      complete.reset();
      break;
    }
    complete = complete ? std::min(*complete, *upTo) : *upTo;
  }
  while (!pending_.empty()) {
    const auto first = pending_.begin();
    const bool isComplete = complete && first->first < *complete;
    if (!isComplete && pending_.size() <= kMaxPendingFrames) break;
    WriteRow(first->first, first->second);
    nextUnwritten_ = first->first + 1;
    pending_.erase(first);
  }
}

void CsvFrames::WriteRow(std::int64_t frame, const Row& row) {
  out_ << frame << ',' << SecondsText(static_cast<double>(frame) / rate_);
  for (std::size_t plate = 0; plate < plates_.size(); ++plate) {
    const bool delivered = plate < row.size() && row[plate].has_value();
    for (std::size_t value = 0; value < kValuesPerSample; ++value) {
      out_ << ',';
      if (delivered) out_ << FloatText((*row[plate])[value]);
    }
  }
  out_ << '\n';
  ++rowsWritten_;
}

void CsvFrames::Finish() {
  for (const auto& [frame, row] : pending_) {
    WriteRow(frame, row);
    nextUnwritten_ = frame + 1;
  }
  pending_.clear();
  out_.flush();
}

}  // namespace torva::host
