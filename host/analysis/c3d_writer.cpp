#include "host/analysis/c3d_writer.h"

#include <algorithm>
#include <cmath>

#include "host/analysis/host_sample.h"

namespace torva::host::analysis {
C3dWriter::C3dWriter(OutputFile& file, C3dDescription description, std::vector<PlateShape> shapes)
    : file_(file),
      encoder_(description),
      shapes_(std::move(shapes)),
      longestFilledGap_(static_cast<std::int64_t>(
          std::ceil(description.analogRate * kLongestFilledGapSeconds))),
      channels_(shapes_.size() * C3dEncoder::kChannelsPerPlate) {
  if (!Problem().empty()) return;
  const std::vector<std::uint8_t>& prelude = encoder_.Prelude();
  file_.Stream().write(reinterpret_cast<const char*>(prelude.data()),
                       static_cast<std::streamsize>(prelude.size()));
  file_.EndRecord();
}

void C3dWriter::WriteRow(std::int64_t frame, const FrameRow& row) {
  if (!Problem().empty()) return;
  if (lastFrame_ && frame > *lastFrame_ + 1) {
    const std::int64_t gap = frame - *lastFrame_ - 1;
    if (gap <= longestFilledGap_) {
      for (std::int64_t missing = 0; missing < gap; ++missing) WriteFrame(nullptr);
    } else {
      closedUp_ += static_cast<std::uint64_t>(gap);
    }
  }
  lastFrame_ = frame;
  WriteFrame(&row);
}

void C3dWriter::WriteFrame(const FrameRow* row) {
  for (std::size_t plate = 0; plate < shapes_.size(); ++plate) {
    float* out = &channels_[plate * C3dEncoder::kChannelsPerPlate];
    const bool delivered = row != nullptr && plate < row->size() && (*row)[plate].has_value();
    if (!delivered) {
      std::fill(out, out + C3dEncoder::kChannelsPerPlate, 0.0f);
      ++zeroFilled_;
      continue;
    }
    const std::array<double, 6> channels = C3dChannels(ToHostSample(*(*row)[plate]), shapes_[plate]);
    for (std::size_t channel = 0; channel < C3dEncoder::kChannelsPerPlate; ++channel)
      out[channel] = static_cast<float>(channels[channel]);
  }
  bytes_.clear();
  encoder_.AppendFrame(channels_.data(), bytes_);
  file_.Stream().write(reinterpret_cast<const char*>(bytes_.data()),
                       static_cast<std::streamsize>(bytes_.size()));
  file_.EndRecord();
  ++frames_;
}

bool C3dWriter::Finish() {
  if (!Problem().empty()) return false;
  file_.Flush();
  const long long preludeBytes = static_cast<long long>(encoder_.Prelude().size());
  std::uint64_t inFile = frames_;
  if (file_.Failure()) {
    // The file was cut back to its last whole frame: its counts say what it holds.
    if (file_.Written() < preludeBytes) return false;
    inFile = static_cast<std::uint64_t>(file_.Written() - preludeBytes) / encoder_.FrameBytes();
  } else {
    const std::vector<std::uint8_t> padding(encoder_.Padding(frames_), 0);
    file_.Stream().write(reinterpret_cast<const char*>(padding.data()),
                         static_cast<std::streamsize>(padding.size()));
    file_.EndRecord();
    file_.Flush();
  }
  for (const C3dPatch& patch : encoder_.FrameCountPatches(inFile))
    file_.WriteAt(static_cast<long long>(patch.offset), patch.bytes);
  return !file_.Failure();
}

}  // namespace torva::host::analysis
