#include "host/analysis/lab_layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <sstream>
#include <system_error>

namespace torva::host::analysis {
namespace {

constexpr double kMmPerM = 1000.0;
constexpr std::size_t kReadChunkBytes = 4096;
// Room for the shortest round-trip text of any double (at most 24 characters).
constexpr std::size_t kNumberTextCapacity = 32;
// What Boost's INI reader trims from both ends of a line, a key and a value (isspace in "C").
constexpr const char* kBlanks = " \t\n\v\f\r";
constexpr char kSectionStart = '[';
constexpr char kSectionEnd = ']';
constexpr char kKeyValueSeparator = '=';
constexpr char kCommentStart = ';';
constexpr char kOtherCommentStart = '#';

// A key of a plate's section and the placement field it sets.
struct PlacementKey {
  const char* name;
  double LabPlacement::*field;
  bool required;
};
constexpr std::array<PlacementKey, 4> kPlacementKeys{{
    {"x_mm", &LabPlacement::xMm, true},
    {"y_mm", &LabPlacement::yMm, true},
    {"z_mm", &LabPlacement::zMm, false},
    {"rotation_deg", &LabPlacement::rotationDeg, false},
}};

// A fault of the file at a line (0: of the file as a whole).
struct LineFault {
  std::size_t line = 0;
  std::string what;
};

// Where a section and each of its keys stand in the file (lines counted from 1).
struct SectionLines {
  std::string name;
  std::size_t line = 0;
  std::map<std::string, std::size_t> keyLines;
};

// The file's sections in file order, and the first fault of its structure that Boost's INI reader
// lets pass or words less plainly: a key outside any section, a section or a key given twice, a
// section without a name.
struct LayoutLines {
  std::vector<SectionLines> sections;
  std::optional<LineFault> fault;
};

std::string Reason(int error) { return std::strerror(error); }

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string NumberText(double value) {
  std::array<char, kNumberTextCapacity> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), result.ptr);
}

// The value of `text` when it is a whole finite number (no unit, no other text around it).
std::optional<double> FiniteNumber(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

const PlacementKey* PlacementKeyNamed(const std::string& name) {
  for (const PlacementKey& key : kPlacementKeys) {
    if (name == key.name) return &key;
  }
  return nullptr;
}

std::string PlacementKeyList() {
  std::string list;
  for (const PlacementKey& key : kPlacementKeys) {
    list += (list.empty() ? "" : ", ") + std::string(key.name);
  }
  return list;
}

// The whole text of the regular file at `path`. A FIFO or a device is refused before it is
// opened, and opened without waiting should one have taken the name since.
bool ReadRegularFile(const std::string& path, std::string& text, std::string& error) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    error = path + ": " + Reason(errno);
    return false;
  }
  if (S_ISDIR(status.st_mode)) {
    error = path + ": " + Reason(EISDIR);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + Reason(errno);
    return false;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    error = path + ": not a regular file";
    ::close(fd);
    return false;
  }
  std::array<char, kReadChunkBytes> chunk{};
  for (;;) {
    const ssize_t count = ::read(fd, chunk.data(), chunk.size());
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      error = path + ": " + Reason(errno);
      ::close(fd);
      return false;
    }
    text.append(chunk.data(), static_cast<std::size_t>(count));
  }
  ::close(fd);
  return true;
}

// Reads the lines as Boost's INI reader does (trimmed; comments, blank lines, section headers and
// key lines) to learn where each section and key stands. Lines that reader rejects are left to it.
LayoutLines IndexLines(const std::string& text) {
  LayoutLines index;
  std::map<std::string, std::size_t> headerLines;
  std::istringstream stream(text);
  std::string line;
  for (std::size_t number = 1; std::getline(stream, line); ++number) {
    const std::string content = Trimmed(line);
    if (content.empty() || content[0] == kCommentStart || content[0] == kOtherCommentStart) {
      continue;
    }
    if (content[0] == kSectionStart) {
      const auto end = content.find(kSectionEnd);
      if (end == std::string::npos) continue;
      const std::string name = Trimmed(content.substr(1, end - 1));
      if (name.empty()) {
        index.fault = LineFault{number, "a section without a plate name"};
        return index;
      }
      const auto [first, isNew] = headerLines.emplace(name, number);
      if (!isNew) {
        index.fault = LineFault{number, "section [" + name + "] is given twice (first on line " +
                                            std::to_string(first->second) + ")"};
        return index;
      }
      index.sections.push_back({name, number, {}});
      continue;
    }
    const auto separator = content.find(kKeyValueSeparator);
    if (separator == std::string::npos || separator == 0) continue;
    const std::string key = Trimmed(content.substr(0, separator));
    if (index.sections.empty()) {
      index.fault = LineFault{number, "key " + key + " is outside any plate section"};
      return index;
    }
    SectionLines& section = index.sections.back();
    const auto [first, isNew] = section.keyLines.emplace(key, number);
    if (!isNew) {
      index.fault = LineFault{number, "key " + key + " is given twice in section [" +
                                          section.name + "] (first on line " +
                                          std::to_string(first->second) + ")"};
      return index;
    }
  }
  return index;
}

// Parses the text with Boost's INI reader; the syntax fault it reports, if any.
std::optional<LineFault> ParseIni(const std::string& text, boost::property_tree::ptree& tree) {
  try {
    std::istringstream stream(text);
    boost::property_tree::ini_parser::read_ini(stream, tree);
    return std::nullopt;
  } catch (const boost::property_tree::file_parser_error& failure) {
    return LineFault{failure.line(), failure.message()};
  } catch (const std::exception& failure) {
    return LineFault{0, failure.what()};
  }
}

// The placement a section gives its plate; the first bad key or value, or a missing required
// key (at the section's header), otherwise.
std::optional<LineFault> ReadPlacement(const SectionLines& lines,
                                       const boost::property_tree::ptree& tree,
                                       LabPlacement& placement) {
  std::array<bool, kPlacementKeys.size()> given{};
  // Boost's reader leaves a section without keys out of the tree.
  const auto section = tree.find(lines.name);
  if (section != tree.not_found()) {
    for (const auto& [name, value] : section->second) {
      const auto keyLine = lines.keyLines.find(name);
      const std::size_t line = keyLine != lines.keyLines.end() ? keyLine->second : lines.line;
      const PlacementKey* key = PlacementKeyNamed(name);
      if (key == nullptr) {
        return LineFault{line, "unknown key " + name + " (a plate's keys are " +
                                   PlacementKeyList() + ")"};
      }
      if (value.data().empty()) return LineFault{line, name + " has no value"};
      const auto number = FiniteNumber(value.data());
      if (!number) return LineFault{line, name + " = " + value.data() + " is not a finite number"};
      placement.*(key->field) = *number;
      given[static_cast<std::size_t>(key - kPlacementKeys.data())] = true;
    }
  }
  for (std::size_t i = 0; i < kPlacementKeys.size(); ++i) {
    if (kPlacementKeys[i].required && !given[i]) {
      return LineFault{lines.line,
                       "plate " + lines.name + " has no " + kPlacementKeys[i].name};
    }
  }
  return std::nullopt;
}

std::string Located(const std::string& path, const LineFault& fault) {
  if (fault.line == 0) return path + ": " + fault.what;
  return path + ":" + std::to_string(fault.line) + ": " + fault.what;
}

}  // namespace

std::optional<LabLayout> LabLayout::Read(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadRegularFile(path, text, error)) return std::nullopt;
  const LayoutLines index = IndexLines(text);
  boost::property_tree::ptree tree;
  std::optional<LineFault> fault = ParseIni(text, tree);
  // The first fault in the file counts; on the same line the plainer words of the line index.
  if (index.fault && (!fault || index.fault->line <= fault->line)) fault = index.fault;
  std::vector<Section> sections;
  for (std::size_t i = 0; !fault && i < index.sections.size(); ++i) {
    const SectionLines& lines = index.sections[i];
    Section section{lines.name, lines.line, {}};
    fault = ReadPlacement(lines, tree, section.placement);
    sections.push_back(std::move(section));
  }
  if (fault) {
    error = Located(path, *fault);
    return std::nullopt;
  }
  return LabLayout(path, std::move(sections));
}

std::vector<LabPlacement> LabLayout::Place(const std::vector<std::string>& plates,
                                           const std::vector<PlateShape>& shapes,
                                           std::vector<std::string>& warnings) const {
  std::vector<PlateShape> rowShapes(shapes);
  rowShapes.resize(plates.size());
  std::vector<LabPlacement> placements = DefaultPlacements(rowShapes);
  for (std::size_t i = 0; i < plates.size(); ++i) {
    bool named = false;
    for (const Section& section : sections_) {
      if (section.plate != plates[i]) continue;
      placements[i] = section.placement;
      named = true;
    }
    if (!named) {
      warnings.push_back("plate " + plates[i] + " is not in the layout " + path_ +
                         ": placed at x_mm = " + NumberText(placements[i].xMm) +
                         ", y_mm = " + NumberText(placements[i].yMm));
    }
  }
  for (const Section& section : sections_) {
    bool detected = false;
    for (const std::string& plate : plates) detected = detected || plate == section.plate;
    if (!detected) {
      warnings.push_back(Located(path_, {section.line, "plate " + section.plate +
                                                           " was not detected; its place is "
                                                           "not used"}));
    }
  }
  return placements;
}

std::vector<LabPlacement> DefaultPlacements(const std::vector<PlateShape>& shapes) {
  std::vector<LabPlacement> placements(shapes.size());
  for (std::size_t i = 1; i < shapes.size(); ++i) {
    const double previousHalfMm = shapes[i - 1].lengthM * kMmPerM / 2;
    const double ownHalfMm = shapes[i].lengthM * kMmPerM / 2;
    placements[i].xMm = placements[i - 1].xMm + previousHalfMm + kDefaultGapMm + ownHalfMm;
  }
  return placements;
}

std::string LayoutText(const std::vector<std::string>& plates,
                       const std::vector<LabPlacement>& placements) {
  std::string text =
      "; torva-host lab layout: each plate's surface centre in the lab (mm) and its turn about "
      "the vertical (degrees, counter-clockwise seen from above)\n";
  const std::size_t count = std::min(plates.size(), placements.size());
  for (std::size_t i = 0; i < count; ++i) {
    text += "\n[" + plates[i] + "]\n";
    for (const PlacementKey& key : kPlacementKeys) {
      text += std::string(key.name) + " = " + NumberText(placements[i].*(key.field)) + "\n";
    }
  }
  return text;
}

}  // namespace torva::host::analysis
