#pragma once
// What the live view shows of the plates: per plate the latest sample, the range of Fz since the
// view was last taken (so that a chart drawing one bar per interval loses no peak), and how
// complete the stream is: frames received, frames missing between blocks, samples that came for a
// frame the plate had already passed (dropped).
//
// The frame a view shows is the newest one every plate that is keeping up has delivered, and each
// plate shows its sample of that very frame: plates push their blocks one after the other, so the
// newest frame of one may not have arrived from another yet. A plate more than kHistoryFrames
// behind the newest (unplugged, say) no longer holds the others back and shows its latest sample.
//
// Threads: none; the owner serialises calls (LiveFeed holds it under its lock).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/frame_sink.h"
#include "host/plate_sample.h"

namespace torva::host::live {

using Clock = std::chrono::steady_clock;

struct PlateReading {
  std::optional<PlateSample> sample;  // of the view's frame; nothing before the plate's first
  std::optional<float> fzMin;         // over the interval; nothing when no sample came in it
  std::optional<float> fzMax;
};

struct LiveView {
  std::optional<std::int64_t> frame;  // nothing before the first block
  std::vector<PlateReading> plates;   // in the order the plates were given
  std::uint64_t frames = 0;           // frame numbers received (each new newest frame counts)
  std::uint64_t missing = 0;          // frames skipped between blocks, over all plates
  std::uint64_t dropped = 0;          // samples for frames already passed, over all plates
  std::optional<Clock::time_point> newestArrival;  // when the newest block arrived
};

class LivePicture {
 public:
  static constexpr std::int64_t kHistoryFrames = 512;

  // `plates`: the instance names, in the order views list them.
  explicit LivePicture(std::vector<std::string> plates);

  // Takes a block of a listed plate; blocks of other devices are ignored.
  void Add(const FrameBlock& block, Clock::time_point arrived);
  // The view now; starts a new interval for the Fz ranges.
  LiveView Take();
  // The newest frame any plate has delivered, and the frame a view shows now.
  std::optional<std::int64_t> NewestFrame() const { return newest_; }
  std::optional<std::int64_t> ShownFrame() const;

 private:
  struct PlateTrack {
    struct Entry {
      std::int64_t frame = 0;
      PlateSample sample{};
    };
    std::vector<Entry> history;        // ring of the last kHistoryFrames samples, by frame
    std::optional<std::int64_t> next;  // the frame after the newest delivered
    std::optional<float> fzMin;
    std::optional<float> fzMax;
  };

  static std::size_t Slot(std::int64_t frame);
  // The plate's sample of `frame`, or its newest when it does not hold that frame.
  static const PlateSample& SampleAt(const PlateTrack& track, std::int64_t frame);

  std::vector<std::string> names_;
  std::vector<PlateTrack> tracks_;
  std::optional<std::int64_t> newest_;  // the newest frame any plate has delivered
  std::uint64_t frames_ = 0;
  std::uint64_t missing_ = 0;
  std::uint64_t dropped_ = 0;
  std::optional<Clock::time_point> newestArrival_;
};

}  // namespace torva::host::live
