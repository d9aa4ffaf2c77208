#include "host/frame_rows.h"

#include <algorithm>

namespace torva::host {

FrameRows::FrameRows(std::vector<std::string> plates)
    : plates_(std::move(plates)), deliveredUpTo_(plates_.size()) {}

void FrameRows::Add(const FrameBlock& block) {
  const auto found = std::find(plates_.begin(), plates_.end(), block.device);
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
    FrameRow& row = pending_[frame];
    row.resize(plates_.size());
    row[plate] = *values;
  }
  const std::int64_t after = block.firstFrame + block.samples;
  deliveredUpTo_[plate] = std::max(deliveredUpTo_[plate].value_or(after), after);
  WriteCompleteRows();
}

void FrameRows::WriteCompleteRows() {
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

void FrameRows::WriteRow(std::int64_t frame, const FrameRow& row) {
  for (RowSink* sink : sinks_) sink->WriteRow(frame, row);
  ++rowsWritten_;
}

void FrameRows::Finish() {
  for (const auto& [frame, row] : pending_) {
    WriteRow(frame, row);
    nextUnwritten_ = frame + 1;
  }
  pending_.clear();
}

}  // namespace torva::host
