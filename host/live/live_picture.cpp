#include "host/live/live_picture.h"

#include <algorithm>

namespace torva::host::live {

LivePicture::LivePicture(std::vector<std::string> plates)
    : names_(std::move(plates)), tracks_(names_.size()) {
  for (PlateTrack& track : tracks_) track.history.resize(kHistoryFrames);
}

void LivePicture::Add(const FrameBlock& block, Clock::time_point arrived) {
  const auto found = std::find(names_.begin(), names_.end(), block.device);
  if (found == names_.end()) return;
  const std::size_t index = static_cast<std::size_t>(found - names_.begin());
  PlateTrack& track = tracks_[index];
  for (std::uint32_t i = 0; i < block.samples; ++i) {
    const std::int64_t frame = block.firstFrame + i;
    const std::optional<PlateSample> sample = SampleOf(block, i);
    if (!sample) continue;
    if (track.next && frame < *track.next) {
      ++dropped_;
      continue;
    }
    if (track.next) missing_ += static_cast<std::uint64_t>(frame - *track.next);
    if (!newest_ || frame > *newest_) {
      ++frames_;
      newest_ = frame;
    }
    track.next = frame + 1;
    track.history[Slot(frame)] = {frame, *sample};
    const float fz = (*sample)[kFzIndex];
    track.fzMin = std::min(track.fzMin.value_or(fz), fz);
    track.fzMax = std::max(track.fzMax.value_or(fz), fz);
  }
  newestArrival_ = arrived;
}

std::size_t LivePicture::Slot(std::int64_t frame) {
  return static_cast<std::size_t>(((frame % kHistoryFrames) + kHistoryFrames) % kHistoryFrames);
}

const PlateSample& LivePicture::SampleAt(const PlateTrack& track, std::int64_t frame) {
  const PlateTrack::Entry& entry = track.history[Slot(frame)];
  if (entry.frame == frame) return entry.sample;
  return track.history[Slot(*track.next - 1)].sample;
}

std::optional<std::int64_t> LivePicture::ShownFrame() const {
  if (!newest_) return std::nullopt;
  // The newest frame every plate keeping up has delivered.
  std::int64_t shown = *newest_;
  for (const PlateTrack& track : tracks_)
    if (track.next && *track.next - 1 > *newest_ - kHistoryFrames)
      shown = std::min(shown, *track.next - 1);
  return shown;
}

LiveView LivePicture::Take() {
  LiveView view;
  view.frames = frames_;
  view.missing = missing_;
  view.dropped = dropped_;
  view.newestArrival = newestArrival_;
  view.frame = ShownFrame();
  for (PlateTrack& track : tracks_) {
    PlateReading reading;
    if (track.next) reading.sample = SampleAt(track, *view.frame);
    reading.fzMin = track.fzMin;
    reading.fzMax = track.fzMax;
    track.fzMin.reset();
    track.fzMax.reset();
    view.plates.push_back(reading);
  }
  return view;
}

}  // namespace torva::host::live
