#include "host/analysis/c3d_parameter_section.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "host/analysis/c3d_bytes.h"

namespace torva::host::analysis {

namespace {

// The first four bytes of the section.
#pragma pack(push, 1)
struct C3dParameterHeader {
  std::uint8_t firstWord[2];
  std::uint8_t blockCount;  // of the section, this block included
  std::uint8_t processorType;
};
#pragma pack(pop)
static_assert(sizeof(C3dParameterHeader) == 4);
static_assert(offsetof(C3dParameterHeader, blockCount) == 2);
static_assert(offsetof(C3dParameterHeader, processorType) == 3);

constexpr std::size_t kMaxNameLength = 127;
constexpr std::size_t kMaxDescriptionLength = 127;
constexpr std::size_t kMaxGroups = 127;
constexpr std::size_t kMaxDimensions = 7;
constexpr std::size_t kMaxBlocks = std::numeric_limits<std::uint8_t>::max();
constexpr std::size_t kMaxNextOffset = std::numeric_limits<std::int16_t>::max();
constexpr std::size_t kMaxTextLength = kC3dMaxDimension;
constexpr char kTextPadding = ' ';

template <typename Value>
std::vector<std::uint8_t> ValueBytes(const std::vector<Value>& values) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(values.size() * sizeof(Value));
  for (const Value& value : values) AppendC3dBytes(bytes, value);
  return bytes;
}

std::size_t Product(const std::vector<std::size_t>& dimensions) {
  std::size_t product = 1;
  for (std::size_t dimension : dimensions) product *= dimension;
  return product;
}

}  // namespace

C3dParameterSection::GroupId C3dParameterSection::AddGroup(const std::string& name,
                                                           const std::string& description) {
  if (static_cast<std::size_t>(lastGroup_) >= kMaxGroups) {
    Fail("more than 127 parameter groups");
    return lastGroup_;
  }
  ++lastGroup_;
  StartRecord(static_cast<std::int8_t>(-lastGroup_), name);
  AppendDescription(description);
  return lastGroup_;
}

std::size_t C3dParameterSection::AddIntegers(GroupId group, const std::string& name,
                                             const std::string& description,
                                             const std::vector<std::size_t>& dimensions,
                                             const std::vector<std::int16_t>& values) {
  return AddParameter(group, name, description, ElementType::kInteger, dimensions,
                      ValueBytes(values));
}

std::size_t C3dParameterSection::AddFloats(GroupId group, const std::string& name,
                                           const std::string& description,
                                           const std::vector<std::size_t>& dimensions,
                                           const std::vector<float>& values) {
  return AddParameter(group, name, description, ElementType::kFloat, dimensions,
                      ValueBytes(values));
}

std::size_t C3dParameterSection::AddInteger(GroupId group, const std::string& name,
                                            const std::string& description, std::int16_t value) {
  return AddIntegers(group, name, description, {}, {value});
}

std::size_t C3dParameterSection::AddFloat(GroupId group, const std::string& name,
                                          const std::string& description, float value) {
  return AddFloats(group, name, description, {}, {value});
}

std::size_t C3dParameterSection::AddTexts(GroupId group, const std::string& name,
                                          const std::string& description, std::size_t width,
                                          const std::vector<std::string>& texts) {
  std::vector<std::uint8_t> characters;
  characters.reserve(width * texts.size());
  for (const std::string& text : texts) {
    for (std::size_t i = 0; i < width; ++i)
      characters.push_back(static_cast<std::uint8_t>(i < text.size() ? text[i] : kTextPadding));
  }
  return AddParameter(group, name, description, ElementType::kCharacter, {width, texts.size()},
                      characters);
}

std::size_t C3dParameterSection::AddText(GroupId group, const std::string& name,
                                         const std::string& description, const std::string& text) {
  // An empty text is one blank: a zero dimension would say "no value" to some readers.
  std::string stored = text.empty() ? std::string(1, kTextPadding) : text;
  if (stored.size() > kMaxTextLength) stored.resize(kMaxTextLength);
  return AddParameter(group, name, description, ElementType::kCharacter, {stored.size()},
                      std::vector<std::uint8_t>(stored.begin(), stored.end()));
}

std::vector<std::uint8_t> C3dParameterSection::Finish(const std::uint8_t (&firstWord)[2],
                                                      std::uint8_t processorType) {
  const std::size_t used = sizeof(C3dParameterHeader) + records_.size();
  const std::size_t blocks = (used + kC3dBlockBytes - 1) / kC3dBlockBytes;
  if (blocks > kMaxBlocks) Fail("the parameter section needs more than 255 blocks");
  if (!problem_.empty()) return {};

  const C3dParameterHeader header{{firstWord[0], firstWord[1]},
                                  static_cast<std::uint8_t>(blocks), processorType};
  // Sized once and filled in place: the header, the records, zeros to the end of the last block.
  std::vector<std::uint8_t> section(blocks * kC3dBlockBytes, 0);
  const std::vector<std::uint8_t> headerBytes = C3dBytes(header);
  std::copy(headerBytes.begin(), headerBytes.end(), section.begin());
  std::copy(records_.begin(), records_.end(), section.begin() + sizeof(C3dParameterHeader));
  return section;
}

void C3dParameterSection::StartRecord(std::int8_t id, const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength)
    Fail("the name '" + name + "' is not 1 to 127 characters long");
  const std::size_t start = records_.size();
  if (anyRecord_) {
    const std::size_t offset = start - pendingNextField_;
    if (offset > kMaxNextOffset) Fail("the record before " + name + " is too long");
    StoreC3dBytes(records_, pendingNextField_, static_cast<std::int16_t>(offset));
  }
  records_.push_back(static_cast<std::uint8_t>(name.size()));
  records_.push_back(static_cast<std::uint8_t>(id));
  records_.insert(records_.end(), name.begin(), name.end());
  pendingNextField_ = records_.size();
  AppendC3dBytes(records_, std::int16_t{0});  // the last record's: the end of the section
  anyRecord_ = true;
}

std::size_t C3dParameterSection::AddParameter(GroupId group, const std::string& name,
                                              const std::string& description, ElementType type,
                                              const std::vector<std::size_t>& dimensions,
                                              const std::vector<std::uint8_t>& values) {
  if (dimensions.size() > kMaxDimensions) Fail(name + " has more than 7 dimensions");
  for (std::size_t dimension : dimensions)
    if (dimension > kC3dMaxDimension) Fail(name + " has a dimension over 255");
  const std::size_t elementBytes =
      type == ElementType::kCharacter ? 1 : static_cast<std::size_t>(type);
  if (values.size() != Product(dimensions) * elementBytes)
    Fail(name + " has values that do not match its dimensions");

  StartRecord(group, name);
  records_.push_back(static_cast<std::uint8_t>(type));
  records_.push_back(static_cast<std::uint8_t>(dimensions.size()));
  for (std::size_t dimension : dimensions) records_.push_back(static_cast<std::uint8_t>(dimension));
  const std::size_t valuesOffset = sizeof(C3dParameterHeader) + records_.size();
  records_.insert(records_.end(), values.begin(), values.end());
  AppendDescription(description);
  return valuesOffset;
}

void C3dParameterSection::AppendDescription(const std::string& description) {
  const std::size_t length = std::min(description.size(), kMaxDescriptionLength);
  records_.push_back(static_cast<std::uint8_t>(length));
  records_.insert(records_.end(), description.begin(),
                  description.begin() + static_cast<std::ptrdiff_t>(length));
}

void C3dParameterSection::Fail(const std::string& problem) {
  if (problem_.empty()) problem_ = problem;
}

}  // namespace torva::host::analysis
