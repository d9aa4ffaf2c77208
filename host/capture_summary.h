#pragma once
// What a capture brought, per plate: samples, first and last frame, frames missing between them,
// the largest |Fz| and the share of loaded samples (Fz not 0, the plugin zeroing everything below
// the force threshold); printed with the counts of the plugin's warnings and errors.
//
// Threads: one (the program's main thread).

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/frame_sink.h"

namespace torva::host {

struct PlateSummary {
  std::string instance;
  std::uint64_t samples = 0;  // distinct frames delivered
  std::optional<std::int64_t> firstFrame;
  std::optional<std::int64_t> lastFrame;
  double peakFz = 0;  // largest |Fz|, N
  std::uint64_t loadedSamples = 0;

  // Frames between the first and the last that did not arrive.
  std::uint64_t MissingFrames() const;
  // Share of samples with Fz != 0, 0 .. 1 (0 without samples).
  double LoadedShare() const;
};

class CaptureSummary {
 public:
  explicit CaptureSummary(const std::vector<std::string>& instances);

  // Takes a block of a listed plate; others are ignored, and a frame already counted is not
  // counted again.
  void Add(const FrameBlock& block);
  const std::vector<PlateSummary>& Plates() const { return plates_; }
  // The summary's lines, the warning and error counts last.
  std::string Report(int warnings, int errors) const;

 private:
  std::vector<PlateSummary> plates_;
  // Per plate, frames counted; only the frames above the contiguous run from the first are kept.
  std::vector<std::set<std::int64_t>> seen_;
};

}  // namespace torva::host
