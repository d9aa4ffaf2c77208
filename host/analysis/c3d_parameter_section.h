#pragma once
// Builds the parameter section of a C3D file: a four-byte section header, then one record per
// group and per parameter, in the order they are added. Every record holds the offset from its
// own "next" field to the next record; the last one holds 0, which ends the section. Groups carry
// negative ids, their parameters the matching positive id; names are stored unlocked (positive
// length). The section is zero-padded to whole 512-byte blocks.
//
// A parameter's dimensions are single bytes (at most 255 each), its "next" offset a signed 16-bit
// integer and the section's block count a byte: whatever exceeds them makes Finish return nothing
// and Problem say why. Descriptions longer than 127 characters are cut.
//
// Threads: none; a plain value.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torva::host::analysis {

// The largest value of one dimension of a parameter array.
inline constexpr std::size_t kC3dMaxDimension = 255;

class C3dParameterSection {
 public:
  // Positive; the group's own record holds its negative.
  using GroupId = std::int8_t;

  GroupId AddGroup(const std::string& name, const std::string& description);

  // Each Add returns the offset of the parameter's values from the start of the section, where
  // they can be overwritten later with values of the same size. No dimensions: a single value.
  std::size_t AddIntegers(GroupId group, const std::string& name, const std::string& description,
                          const std::vector<std::size_t>& dimensions,
                          const std::vector<std::int16_t>& values);
  std::size_t AddFloats(GroupId group, const std::string& name, const std::string& description,
                        const std::vector<std::size_t>& dimensions,
                        const std::vector<float>& values);
  std::size_t AddInteger(GroupId group, const std::string& name, const std::string& description,
                         std::int16_t value);
  std::size_t AddFloat(GroupId group, const std::string& name, const std::string& description,
                       float value);
  // A character array of dimensions (width, texts); each text is cut or padded with blanks.
  std::size_t AddTexts(GroupId group, const std::string& name, const std::string& description,
                       std::size_t width, const std::vector<std::string>& texts);
  // One text as a character array of its own length (at least 1, at most 255 characters).
  std::size_t AddText(GroupId group, const std::string& name, const std::string& description,
                      const std::string& text);

  // The section: its header (its first two bytes `firstWord`, then the block count and
  // `processorType`) and the records, zero-padded to whole blocks. Empty when it does not fit.
  std::vector<std::uint8_t> Finish(const std::uint8_t (&firstWord)[2],
                                   std::uint8_t processorType);
  // Empty while everything fits; otherwise the first thing that did not.
  const std::string& Problem() const { return problem_; }

 private:
  enum class ElementType : std::int8_t { kCharacter = -1, kInteger = 2, kFloat = 4 };

  // Starts a record: name length, id, name and a "next" field for the following record to fill.
  void StartRecord(std::int8_t id, const std::string& name);
  std::size_t AddParameter(GroupId group, const std::string& name, const std::string& description,
                           ElementType type, const std::vector<std::size_t>& dimensions,
                           const std::vector<std::uint8_t>& values);
  void AppendDescription(const std::string& description);
  void Fail(const std::string& problem);

  std::vector<std::uint8_t> records_;
  std::size_t pendingNextField_ = 0;  // where the last record's "next" field lies
  bool anyRecord_ = false;
  GroupId lastGroup_ = 0;
  std::string problem_;
};

}  // namespace torva::host::analysis
