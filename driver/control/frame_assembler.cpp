#include "driver/control/frame_assembler.h"

#include <algorithm>
#include <cstring>

#include "driver/device/streaming_packet.h"
#include "platform/diagnostic_log.h"

namespace torva {
namespace {

constexpr int kChannels = static_cast<int>(kChannelCount);
static_assert(kChannels == kFrameChannels);
// The rows the public layout promises: one per sample of a streaming packet.
static_assert(kSamplesPerPacket == TORVA_FRAME_ROWS);
// The auxiliary word's index among a streaming sample's 32-bit words.
constexpr int kAuxiliaryWord = offsetof(StreamingSample, auxiliary) / sizeof(std::int32_t);

std::int32_t Word(const std::uint8_t* sample, int word) {
  std::int32_t value;
  std::memcpy(&value, sample + static_cast<std::size_t>(word) * sizeof value, sizeof value);
  return value;
}

// Copies the six channel words of a sample bit for bit.
void CopyChannels(const std::uint8_t* sample, float* out) {
  std::memcpy(out, sample + offsetof(StreamingSample, channels), kChannels * sizeof(float));
}

}  // namespace

bool FrameAssembler::Later(std::int32_t a, std::int32_t b) {
  const std::int64_t difference = std::int64_t{a} - std::int64_t{b};
  if (difference == 0) return false;
  // A large distance means the larger number is from before the wrap.
  return difference > 0 ? difference <= kWrapDistance : -difference > kWrapDistance;
}

bool FrameAssembler::Consecutive(std::int32_t previous, std::int32_t counter) {
  const std::int64_t step = std::int64_t{counter} - std::int64_t{previous};
  return step == 1 || step == -1 || step == 1 - kSampleCounterModulus ||
         static_cast<std::uint32_t>(counter) == static_cast<std::uint32_t>(previous) + 1u;
}

void FrameAssembler::Reset(int deviceCount, int packetSize, int format) {
  const int devices = std::clamp(deviceCount, 0, kMaxAmplifiers);
  const int samples = std::max(packetSize, 0) / static_cast<int>(kStreamingSampleBytes);
  int recordValues = builtRecordValues_;
  int builtFormat = builtFormat_;
  if (ValuesPerRecord(format) != 0) {
    recordValues = ValuesPerRecord(format);
    builtFormat = format;
  }
  // Allocate first: when an allocation fails, the assembler is left as it was.
  const int values = recordValues * samples * devices;
  std::vector<float> scratch(static_cast<std::size_t>(values), 0.0f);
  ring_.Reset(values);
  deviceCount_ = devices;
  samplesPerPacket_ = samples;
  builtRecordValues_ = recordValues;
  builtFormat_ = builtFormat;
  scratch_.swap(scratch);
  have_.fill(0);
  pending_.fill(0);
  readIndex_.fill(0);
  frameNumber_.fill(0);
  incomparable_ = 0;
}

void FrameAssembler::Release() {
  deviceCount_ = 0;
  scratch_ = {};
  ring_.Release();
}

void FrameAssembler::ClearCounters() {
  lastCounter_.fill(0);
  for (auto& count : dropped_) count = 0;
  counterKnown_.fill(false);
}

void FrameAssembler::ClearPending() { pending_.fill(0); }

int FrameAssembler::EffectiveFormat(int format) const {
  // A format whose records are larger than the buffers were built for waits for the next start.
  const int values = ValuesPerRecord(format);
  return values != 0 && values <= builtRecordValues_ ? format : builtFormat_;
}

bool FrameAssembler::Announce(int slot, int position, bool hold, const PacketSource& source,
                              int format) {
  const auto s = static_cast<std::size_t>(slot);
  ++pending_[s];
  if (have_[s] != 0) return false;
  have_[s] = 1;
  if (!hold) Take(slot, position, source, format);
  return true;
}

int FrameAssembler::TryComplete(const PacketSource& source, int format, bool deliver,
                                const std::array<int, kMaxAmplifiers>& positionOfSlot) {
  for (int slot = 0; slot < deviceCount_; ++slot)
    if (have_[static_cast<std::size_t>(slot)] == 0) return -1;

  // Discard the packets of amplifiers that are behind until every amplifier agrees. "Later" is
  // not transitive for counters further apart than the wrap distance: an amplifier that is then
  // neither behind the latest nor level with it is not comparable with the others, and its packets
  // are discarded as well, so that a frame only ever joins packets of one frame number.
  for (bool changed = true; changed;) {
    changed = false;
    std::int32_t latest = frameNumber_[0];
    for (int slot = 1; slot < deviceCount_; ++slot)
      if (Later(frameNumber_[static_cast<std::size_t>(slot)], latest))
        latest = frameNumber_[static_cast<std::size_t>(slot)];
    for (int slot = 0; slot < deviceCount_; ++slot) {
      const auto s = static_cast<std::size_t>(slot);
      if (frameNumber_[s] == latest) continue;
      if (!Later(latest, frameNumber_[s])) CountIncomparable(slot, latest, frameNumber_[s]);
      have_[s] = 0;
      if (pending_[s] <= 0) return -1;  // completes when this amplifier's next packet arrives
      have_[s] = 1;
      Take(slot, positionOfSlot[s], source, format);
      changed = true;
    }
  }

  // The frame is complete: copy it into the ring once. A frame the caller had not taken when the
  // ring was full is dropped (the ring counts it as an overrun).
  int completed = -1;
  if (deliver && !scratch_.empty()) {
    ring_.MakeRoomForWrite();
    std::memcpy(ring_.WriteEntry(), scratch_.data(), scratch_.size() * sizeof(float));
    completed = ring_.CompleteWrite();
  }

  // The next frame starts with the packets that are already waiting.
  for (int slot = 0; slot < deviceCount_; ++slot) {
    const auto s = static_cast<std::size_t>(slot);
    have_[s] = 0;
    if (pending_[s] > 0) {
      have_[s] = 1;
      Take(slot, positionOfSlot[s], source, format);
    }
  }
  return completed;
}

float FrameAssembler::Scratch(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < scratch_.size()
             ? scratch_[static_cast<std::size_t>(index)]
             : 0.0f;
}

void FrameAssembler::Take(int slot, int position, const PacketSource& source, int format) {
  const auto s = static_cast<std::size_t>(slot);
  frameNumber_[s] = Convert(slot, position, readIndex_[s], source, format);
  readIndex_[s] = (readIndex_[s] + 1) % kRingEntries;
  --pending_[s];
}

void FrameAssembler::CountDrop(int slot, std::int32_t counter) {
  const auto s = static_cast<std::size_t>(slot);
  const std::int32_t previous = lastCounter_[s];
  const bool gap = counterKnown_[s] && !Consecutive(previous, counter);
  counterKnown_[s] = true;
  lastCounter_[s] = counter;
  // Last, so that the rare gap costs the common case nothing.
  if (gap) CountGap(slot, previous, counter);
}

void FrameAssembler::CountIncomparable(int slot, std::int32_t latest, std::int32_t frameNumber) {
  const int discarded = ++incomparable_;
  TORVA_LOG_OCCURRENCE(kWarning, discarded,
                       "slot %d: frame number %d is too far from %d to be aligned; packet "
                       "discarded (%d this run)",
                       slot, frameNumber, latest, discarded);
}

void FrameAssembler::CountGap(int slot, std::int32_t previous, std::int32_t counter) {
  const int gaps = ++dropped_[static_cast<std::size_t>(slot)];
  TORVA_LOG_OCCURRENCE(kWarning, gaps,
                       "slot %d: sample counter went from %d to %d (%d gap(s) this run)", slot,
                       previous, counter, gaps);
}

std::int32_t FrameAssembler::Convert(int slot, int position, int ringIndex,
                                     const PacketSource& source, int format) {
  int packetSize = 0;
  const std::uint8_t* packet = source.Packet(slot, ringIndex, packetSize);
  if (packet == nullptr || packetSize < static_cast<int>(kStreamingSampleBytes)) return 0;
  const std::int32_t frameNumber = Word(packet, 0);
  const int n = deviceCount_;
  const int samples = std::min(packetSize / static_cast<int>(kStreamingSampleBytes), samplesPerPacket_);
  if (position < 0 || position >= n) return frameNumber;
  float* frame = scratch_.data();

  // Each row of a layout is the same: the first row's places, stepped by the row's length.
  const FrameLayout layout(EffectiveFormat(format), n);
  const int rowValues = layout.ValuesPerRow();
  const std::uint8_t* sample = packet;
  switch (layout.Format()) {
    case kFormatChannels: {
      float* channels = frame + layout.Channel(0, position, 0);
      for (int s = 0; s < samples; ++s, sample += kStreamingSampleBytes, channels += rowValues)
        CopyChannels(sample, channels);
      break;
    }
    case kFormatRecords: {
      float* record = frame + layout.Counter(0, position);
      for (int s = 0; s < samples; ++s, sample += kStreamingSampleBytes, record += rowValues) {
        const std::int32_t counter = Word(sample, 0);
        CountDrop(slot, counter);
        record[kRecordCounter] = static_cast<float>(counter);
        CopyChannels(sample, record + kRecordChannels);
        record[kRecordAuxiliary] = static_cast<float>(Word(sample, kAuxiliaryWord));
      }
      break;
    }
    case kFormatRows: {
      // The row's counter is position 0's, its auxiliary word the last position's.
      float* counter = position == 0 ? frame + layout.Counter(0, position) : nullptr;
      float* channels = frame + layout.Channel(0, position, 0);
      float* auxiliary = position == n - 1 ? frame + layout.Auxiliary(0, position) : nullptr;
      for (int s = 0; s < samples; ++s, sample += kStreamingSampleBytes, channels += rowValues) {
        const std::int32_t value = Word(sample, 0);
        CountDrop(slot, value);
        if (counter != nullptr) counter[s * rowValues] = static_cast<float>(value);
        CopyChannels(sample, channels);
        if (auxiliary != nullptr)
          auxiliary[s * rowValues] = static_cast<float>(Word(sample, kAuxiliaryWord));
      }
      break;
    }
    default:
      break;
  }
  return frameNumber;
}

}  // namespace torva
