#include "host/capture_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/plate_sample.h"

namespace torva::host {

std::uint64_t PlateSummary::MissingFrames() const {
  if (!firstFrame || !lastFrame) return 0;
  const auto span = static_cast<std::uint64_t>(*lastFrame - *firstFrame + 1);
  return span > samples ? span - samples : 0;
}

double PlateSummary::LoadedShare() const {
  return samples == 0 ? 0.0 : static_cast<double>(loadedSamples) / static_cast<double>(samples);
}

CaptureSummary::CaptureSummary(const std::vector<std::string>& instances)
    : seen_(instances.size()) {
  for (const std::string& instance : instances) {
    PlateSummary plate;
    plate.instance = instance;
    plates_.push_back(plate);
  }
}

void CaptureSummary::Add(const FrameBlock& block) {
  const auto found = std::find_if(plates_.begin(), plates_.end(), [&](const PlateSummary& plate) {
    return plate.instance == block.device;
  });
  if (found == plates_.end()) return;
  PlateSummary& plate = *found;
  std::set<std::int64_t>& seen = seen_[static_cast<std::size_t>(found - plates_.begin())];
  for (std::uint32_t sample = 0; sample < block.samples; ++sample) {
    const auto values = SampleOf(block, sample);
    if (!values) continue;
    const std::int64_t frame = block.firstFrame + sample;
    // Everything from the first frame up to the start of the kept set has been seen.
    const bool inCountedRun = !seen.empty() && frame >= *plate.firstFrame && frame <= *seen.begin();
    if (inCountedRun || !seen.insert(frame).second) continue;
    ++plate.samples;
    plate.firstFrame = std::min(plate.firstFrame.value_or(frame), frame);
    plate.lastFrame = std::max(plate.lastFrame.value_or(frame), frame);
    const float fz = (*values)[kFzIndex];
    plate.peakFz = std::max(plate.peakFz, std::fabs(static_cast<double>(fz)));
    if (fz != 0.0f) ++plate.loadedSamples;
  }
  // Frames arrive in order, so only those after a gap need remembering: the contiguous run from
  // the first frame is summed up by its end.
  while (seen.size() > 1 && *std::next(seen.begin()) == *seen.begin() + 1) seen.erase(seen.begin());
}

std::string CaptureSummary::Report(int warnings, int errors) const {
  constexpr double kPercent = 100.0;
  std::string report;
  char line[512];
  for (const PlateSummary& plate : plates_) {
    if (plate.samples == 0) {
      std::snprintf(line, sizeof line, "%s: no samples\n", plate.instance.c_str());
    } else {
      std::snprintf(line, sizeof line,
                    "%s: %llu samples, frames %lld to %lld, %llu missing, peak |Fz| %.1f N, "
                    "%.1f%% loaded\n",
                    plate.instance.c_str(), static_cast<unsigned long long>(plate.samples),
                    static_cast<long long>(*plate.firstFrame),
                    static_cast<long long>(*plate.lastFrame),
                    static_cast<unsigned long long>(plate.MissingFrames()), plate.peakFz,
                    plate.LoadedShare() * kPercent);
    }
    report += line;
  }
  std::snprintf(line, sizeof line, "%d warnings, %d errors\n", warnings, errors);
  report += line;
  return report;
}

}  // namespace torva::host
