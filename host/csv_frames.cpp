#include "host/csv_frames.h"

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
    : out_(out), plates_(std::move(plates)), rate_(rate) {}

void CsvFrames::WriteHeading(const CsvHeading& heading) {
  out_ << "# plugin: " << heading.plugin << '\n';
  for (const CsvPlate& plate : plates_)
    out_ << "# plate: " << plate.instance << " (" << plate.definition << ")\n";
  out_ << "# rate: requested " << heading.requestedRate << ", applied " << heading.appliedRate
       << " samples/s (" << heading.clockRate << " / " << heading.ticksPerSample
       << " ticks per sample)\n";
  for (const std::string& line : heading.layout) out_ << "# layout: " << line << '\n';
  out_ << "frame,time_s";
  for (const CsvPlate& plate : plates_)
    for (const char* suffix : kColumnSuffixes) out_ << ',' << plate.instance << '.' << suffix;
  out_ << '\n';
}

void CsvFrames::WriteRow(std::int64_t frame, const FrameRow& row) {
  out_ << frame << ',' << SecondsText(static_cast<double>(frame) / rate_);
  for (std::size_t plate = 0; plate < plates_.size(); ++plate) {
    const bool delivered = plate < row.size() && row[plate].has_value();
    for (std::size_t value = 0; value < kValuesPerSample; ++value) {
      out_ << ',';
      if (delivered) out_ << FloatText((*row[plate])[value]);
    }
  }
  out_ << '\n';
}

}  // namespace torva::host
