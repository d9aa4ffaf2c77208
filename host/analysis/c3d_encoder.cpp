#include "host/analysis/c3d_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

#include "host/analysis/c3d_bytes.h"
#include "host/analysis/c3d_parameter_section.h"

namespace torva::host::analysis {

namespace {

constexpr std::uint8_t kParameterStartBlock = 2;  // right after the header block
constexpr std::uint8_t kC3dKey = 0x50;
constexpr std::uint8_t kIntelProcessorType = 84;  // 83 + 1 (Intel)
constexpr float kFloatingPointScale = -1.0f;      // negative: the data are floats
constexpr std::uint16_t kFirstFrame = 1;
constexpr std::uint16_t kAnalogSamplesPerFrame = 1;
constexpr std::uint16_t kEventLabelsKey = 12345;  // four-character event labels
constexpr std::size_t kHeaderReservedWords = 135;
constexpr std::size_t kHeaderTailWords = 22;
constexpr std::size_t kMaxEvents = 18;
constexpr std::size_t kEventLabelLength = 4;

constexpr std::uint64_t kMaxWordFrames = std::numeric_limits<std::uint16_t>::max();
constexpr std::uint64_t kMaxTrialFrames = std::numeric_limits<std::uint32_t>::max();
constexpr unsigned kWordBits = 16;
constexpr std::uint32_t kLowWordMask = 0xFFFF;

constexpr std::size_t kLabelWidth = 32;
constexpr std::size_t kDescriptionWidth = 32;
constexpr std::size_t kUnitWidth = 3;
constexpr float kUnitScale = 1.0f;
// Analog data are floats; this says what a signed 16-bit converter would have, as readers expect.
constexpr std::int16_t kAnalogBits = 16;
constexpr std::int16_t kPlateType = 2;
constexpr std::size_t kCoordinates = 3;
constexpr std::size_t kCorners = 4;
constexpr std::size_t kZeroRangeValues = 2;
constexpr std::size_t kMaxPlates = kC3dMaxDimension;
constexpr std::size_t kMaxTextWidth = kC3dMaxDimension;
// The most value bytes one parameter array is given: its record, name and description included,
// stays within the 32767 bytes its "next" offset reaches.
constexpr std::size_t kMaxArrayBytes = 32512;

constexpr std::array<const char*, C3dEncoder::kChannelsPerPlate> kChannelSuffixes = {
    "Fx", "Fy", "Fz", "Mx", "My", "Mz"};
constexpr std::array<const char*, C3dEncoder::kChannelsPerPlate> kChannelDescriptions = {
    "Force x, plate axes",          "Force y, plate axes",          "Force z, plate axes",
    "Moment x about plate origin", "Moment y about plate origin", "Moment z about plate origin"};
constexpr std::array<const char*, C3dEncoder::kChannelsPerPlate> kChannelUnits = {
    "N", "N", "N", "Nmm", "Nmm", "Nmm"};

// Block 1 of the file.
#pragma pack(push, 1)
struct C3dHeaderBlock {
  std::uint8_t parameterStartBlock;
  std::uint8_t key;
  std::uint16_t pointCount;
  std::uint16_t analogValuesPerFrame;  // channels x analog samples per frame
  std::uint16_t firstFrame;
  std::uint16_t lastFrame;
  std::uint16_t maxInterpolationGap;
  float scale;
  std::uint16_t dataStartBlock;
  std::uint16_t analogSamplesPerFrame;
  float frameRate;
  std::uint16_t reserved[kHeaderReservedWords];
  std::uint16_t labelRangeKey;
  std::uint16_t labelRangeBlock;
  std::uint16_t eventLabelsKey;
  std::uint16_t eventCount;
  std::uint16_t reservedBeforeEvents;
  float eventTimes[kMaxEvents];
  std::uint8_t eventDisplayFlags[kMaxEvents];
  std::uint16_t reservedBeforeLabels;
  char eventLabels[kMaxEvents][kEventLabelLength];
  std::uint16_t reservedTail[kHeaderTailWords];
};
#pragma pack(pop)
static_assert(sizeof(C3dHeaderBlock) == kC3dBlockBytes);
static_assert(sizeof(C3dHeaderBlock) == (kParameterStartBlock - 1) * kC3dBlockBytes);
static_assert(offsetof(C3dHeaderBlock, pointCount) == 2);
static_assert(offsetof(C3dHeaderBlock, lastFrame) == 8);
static_assert(offsetof(C3dHeaderBlock, scale) == 12);
static_assert(offsetof(C3dHeaderBlock, dataStartBlock) == 16);
static_assert(offsetof(C3dHeaderBlock, frameRate) == 20);
static_assert(offsetof(C3dHeaderBlock, labelRangeKey) == 294);
static_assert(offsetof(C3dHeaderBlock, eventLabelsKey) == 298);
static_assert(offsetof(C3dHeaderBlock, eventTimes) == 304);
static_assert(offsetof(C3dHeaderBlock, eventDisplayFlags) == 376);
static_assert(offsetof(C3dHeaderBlock, eventLabels) == 396);
static_assert(offsetof(C3dHeaderBlock, reservedTail) == 468);

// Calls add(nameSuffix, first, count) for each run of at most `perParameter` entries: "" for the
// first, then "2", "3", .. as readers expect of arrays longer than one parameter holds.
template <typename Add>
void ForEachChunk(std::size_t entries, std::size_t perParameter, Add add) {
  for (std::size_t first = 0, chunk = 1; first < entries; first += perParameter, ++chunk)
    add(chunk == 1 ? std::string() : std::to_string(chunk), first,
        std::min(perParameter, entries - first));
}

std::vector<std::string> Slice(const std::vector<std::string>& texts, std::size_t first,
                               std::size_t count) {
  const auto begin = texts.begin() + static_cast<std::ptrdiff_t>(first);
  return {begin, begin + static_cast<std::ptrdiff_t>(count)};
}

// "<name> Fx", the name cut so that the whole label fits its width.
std::string ChannelLabel(const std::string& plateName, std::size_t channel) {
  const std::string suffix = std::string(" ") + kChannelSuffixes[channel];
  return plateName.substr(0, kLabelWidth - suffix.size()) + suffix;
}

void AddAnalog(C3dParameterSection& section, const std::vector<C3dPlate>& plates, float rate) {
  std::vector<std::string> labels;
  std::vector<std::string> descriptions;
  std::vector<std::string> units;
  for (const C3dPlate& plate : plates) {
    for (std::size_t channel = 0; channel < C3dEncoder::kChannelsPerPlate; ++channel) {
      labels.push_back(ChannelLabel(plate.name, channel));
      descriptions.push_back(kChannelDescriptions[channel]);
      units.push_back(kChannelUnits[channel]);
    }
  }
  const auto analog = section.AddGroup("ANALOG", "Analog channels, six per force plate");
  section.AddInteger(analog, "USED", "Number of analog channels",
                     static_cast<std::int16_t>(labels.size()));
  ForEachChunk(labels.size(), kC3dMaxDimension,
               [&](const std::string& suffix, std::size_t first, std::size_t count) {
                 section.AddTexts(analog, "LABELS" + suffix, "Channel labels", kLabelWidth,
                                  Slice(labels, first, count));
                 section.AddTexts(analog, "DESCRIPTIONS" + suffix, "Channel descriptions",
                                  kDescriptionWidth, Slice(descriptions, first, count));
                 section.AddTexts(analog, "UNITS" + suffix, "Channel units", kUnitWidth,
                                  Slice(units, first, count));
                 section.AddFloats(analog, "SCALE" + suffix, "Channel scales", {count},
                                   std::vector<float>(count, kUnitScale));
                 section.AddIntegers(analog, "OFFSET" + suffix, "Channel offsets", {count},
                                     std::vector<std::int16_t>(count, 0));
               });
  section.AddFloat(analog, "RATE", "Samples per second", rate);
  section.AddFloat(analog, "GEN_SCALE", "Scale of all channels", kUnitScale);
  section.AddInteger(analog, "BITS", "Converter resolution", kAnalogBits);
  section.AddText(analog, "FORMAT", "Integer data would be signed", "SIGNED");
}

void AddForcePlatform(C3dParameterSection& section, const std::vector<C3dPlate>& plates) {
  const std::size_t count = plates.size();
  std::vector<float> corners;
  std::vector<float> origins;
  std::vector<std::int16_t> channels;
  for (std::size_t plate = 0; plate < count; ++plate) {
    for (const auto& corner : plates[plate].cornersMm)
      for (double coordinate : corner) corners.push_back(static_cast<float>(coordinate));
    for (double coordinate : plates[plate].originMm)
      origins.push_back(static_cast<float>(coordinate));
    for (std::size_t channel = 0; channel < C3dEncoder::kChannelsPerPlate; ++channel)
      channels.push_back(
          static_cast<std::int16_t>(plate * C3dEncoder::kChannelsPerPlate + channel + 1));
  }
  const auto group = section.AddGroup("FORCE_PLATFORM", "Force plates (TYPE 2)");
  section.AddInteger(group, "USED", "Number of force plates", static_cast<std::int16_t>(count));
  section.AddIntegers(group, "TYPE", "Plate types", {count},
                      std::vector<std::int16_t>(count, kPlateType));
  section.AddIntegers(group, "ZERO", "Frames of the baseline: none", {kZeroRangeValues},
                      std::vector<std::int16_t>(kZeroRangeValues, 0));
  section.AddFloats(group, "CORNERS", "Plate corners in the lab, mm",
                    {kCoordinates, kCorners, count}, corners);
  section.AddFloats(group, "ORIGIN", "Measuring origin to surface centre, mm",
                    {kCoordinates, count}, origins);
  section.AddIntegers(group, "CHANNEL", "Analog channels of each plate",
                      {C3dEncoder::kChannelsPerPlate, count}, channels);
}

// The texts as one character array as wide as the longest, split where one parameter ends.
void AddLines(C3dParameterSection& section, C3dParameterSection::GroupId group,
              const std::string& name, const std::string& description,
              const std::vector<std::string>& lines) {
  std::size_t width = 1;
  for (const std::string& line : lines) width = std::max(width, line.size());
  width = std::min(width, kMaxTextWidth);
  ForEachChunk(lines.size(), std::min(kC3dMaxDimension, kMaxArrayBytes / width),
               [&](const std::string& suffix, std::size_t first, std::size_t count) {
                 section.AddTexts(group, name + suffix, description, width,
                                  Slice(lines, first, count));
               });
}

}  // namespace

C3dEncoder::C3dEncoder(C3dDescription description)
    : channels_(description.plates.size() * kChannelsPerPlate) {
  const double rate = description.analogRate;
  if (description.plates.empty())
    problem_ = "no plates to describe";
  else if (description.plates.size() > kMaxPlates)
    problem_ = "more than 255 plates";
  else if (!(std::isfinite(rate) && rate > 0 && rate <= std::numeric_limits<float>::max()))
    problem_ = "the analog rate is not a positive number";
  else
    Encode(description);
}

std::size_t C3dEncoder::FrameBytes() const { return channels_ * sizeof(float); }

void C3dEncoder::AppendFrame(const float* channels, std::vector<std::uint8_t>& out) const {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(channels);
  out.insert(out.end(), bytes, bytes + FrameBytes());
}

std::vector<C3dPatch> C3dEncoder::FrameCountPatches(std::uint64_t frames) const {
  if (prelude_.empty()) return {};
  const auto wordFrames = static_cast<std::uint16_t>(std::min(frames, kMaxWordFrames));
  const auto trialFrames = static_cast<std::uint32_t>(std::min(frames, kMaxTrialFrames));
  const std::array<std::uint16_t, 2> trialEndField = {
      static_cast<std::uint16_t>(trialFrames & kLowWordMask),
      static_cast<std::uint16_t>(trialFrames >> kWordBits)};
  return {{countOffsets_.headerLastFrame, C3dBytes(wordFrames)},
          {countOffsets_.pointFrames, C3dBytes(wordFrames)},
          {countOffsets_.longFrames, C3dBytes(static_cast<float>(frames))},
          {countOffsets_.trialEndField, C3dBytes(trialEndField)}};
}

std::size_t C3dEncoder::Padding(std::uint64_t frames) const {
  const std::size_t lastBlockBytes = (frames % kC3dBlockBytes) * FrameBytes() % kC3dBlockBytes;
  return lastBlockBytes == 0 ? 0 : kC3dBlockBytes - lastBlockBytes;
}

void C3dEncoder::Encode(const C3dDescription& description) {
  const auto rate = static_cast<float>(description.analogRate);
  C3dParameterSection section;

  // Every value that depends on the frame count starts at 0 and is patched in place.
  const auto point = section.AddGroup("POINT", "3D points (none): frames, rate and data start");
  section.AddInteger(point, "USED", "Number of 3D points", 0);
  const std::size_t pointFrames =
      section.AddInteger(point, "FRAMES", "Number of frames, 65535 when more", 0);
  const std::size_t longFrames = section.AddFloat(point, "LONG_FRAMES", "Number of frames", 0);
  const std::size_t dataStart = section.AddInteger(point, "DATA_START", "First data block", 0);
  section.AddFloat(point, "SCALE", "Negative: floating-point data", kFloatingPointScale);
  section.AddFloat(point, "RATE", "Frames per second", rate);
  section.AddText(point, "UNITS", "Length unit", "mm");
  section.AddTexts(point, "LABELS", "Point labels", kLabelWidth, {});
  section.AddTexts(point, "DESCRIPTIONS", "Point descriptions", kDescriptionWidth, {});

  AddAnalog(section, description.plates, rate);
  AddForcePlatform(section, description.plates);

  const auto trial = section.AddGroup("TRIAL", "Frame range as 32-bit numbers, low word first");
  section.AddIntegers(trial, "ACTUAL_START_FIELD", "First frame", {2}, {kFirstFrame, 0});
  const std::size_t trialEnd =
      section.AddIntegers(trial, "ACTUAL_END_FIELD", "Last frame", {2}, {0, 0});

  const auto maker = section.AddGroup("MANUFACTURER", "The program that wrote the file");
  section.AddText(maker, "COMPANY", "Company", description.company);
  section.AddText(maker, "SOFTWARE", "Program", description.software);
  section.AddText(maker, "VERSION_LABEL", "Program version", description.version);

  const auto torva = section.AddGroup("TORVA", "How the capture was taken");
  section.AddText(torva, "START_TIME", "Start of the capture, UTC", description.startTimeUtc);
  section.AddText(torva, "SYNC_MODE", "How the capture started", description.syncMode);
  if (!description.layout.empty())
    AddLines(section, torva, "LAYOUT", "Where the plates stand", description.layout);

  std::vector<std::uint8_t> parameters =
      section.Finish({kParameterStartBlock, kC3dKey}, kIntelProcessorType);
  if (parameters.empty()) {
    problem_ = section.Problem();
    return;
  }
  const auto dataStartBlock =
      static_cast<std::uint16_t>(kParameterStartBlock + parameters.size() / kC3dBlockBytes);
  StoreC3dBytes(parameters, dataStart, dataStartBlock);

  C3dHeaderBlock header{};
  header.parameterStartBlock = kParameterStartBlock;
  header.key = kC3dKey;
  header.analogValuesPerFrame = static_cast<std::uint16_t>(channels_ * kAnalogSamplesPerFrame);
  header.firstFrame = kFirstFrame;
  header.scale = kFloatingPointScale;
  header.dataStartBlock = dataStartBlock;
  header.analogSamplesPerFrame = kAnalogSamplesPerFrame;
  header.frameRate = rate;
  header.eventLabelsKey = kEventLabelsKey;

  prelude_ = C3dBytes(header);
  prelude_.insert(prelude_.end(), parameters.begin(), parameters.end());
  countOffsets_ = {offsetof(C3dHeaderBlock, lastFrame), sizeof header + pointFrames,
                   sizeof header + longFrames, sizeof header + trialEnd};
}

}  // namespace torva::host::analysis
