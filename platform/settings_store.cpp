#include "platform/settings_store.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "platform/file_replace.h"
#include "platform/regular_file_read.h"

namespace torva::platform {
namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string StripLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

bool IsSection(const std::string& line) {
  return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

bool IsComment(const std::string& line) {
  return line.empty() || line.front() == '#' || line.front() == ';';
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// A key is stored as the line "[key]" and read back as everything between the brackets.
bool StorableKey(const std::string& key) {
  return !key.empty() && !HasLineBreak(key) && key.find(']') == std::string::npos;
}

// A name is stored as the start of the line "name=value" and read back up to the first '='; the
// line must read neither as a comment nor, whatever the value, as a section.
bool StorableName(const std::string& name) {
  return !name.empty() && !HasLineBreak(name) && name.find('=') == std::string::npos &&
         name.front() != '#' && name.front() != ';' && name.front() != '[';
}

// A value is read back as the rest of its line.
bool StorableValue(const std::string& value) { return !HasLineBreak(value); }

// The lines of the file; nothing when it exists but cannot be read (then it must not be
// rewritten: what it holds is unknown). A missing file has no lines.
std::optional<std::vector<std::string>> ReadLines(const std::string& path) {
  const FileRead file = ReadRegularFile(path, kMaxSettingsFileBytes);
  if (file.status == FileReadStatus::kMissing) return std::vector<std::string>{};
  if (!file.Read()) return std::nullopt;
  std::vector<std::string> lines;
  std::istringstream in(file.bytes);
  for (std::string line; std::getline(in, line);) lines.push_back(StripLineEnd(line));
  return lines;
}

}  // namespace

SettingsStore SettingsStore::Machine() {
  const char* path = std::getenv(kSettingsPathVariable);
  return SettingsStore(path != nullptr && path[0] != '\0' ? path : kDefaultSettingsPath);
}

std::optional<std::string> SettingsStore::Read(const std::string& key,
                                               const std::string& name) const {
  const std::optional<std::vector<std::string>> lines = ReadLines(path_);
  if (!lines) return std::nullopt;
  bool inKey = false;
  for (const std::string& line : *lines) {
    if (IsSection(line)) {
      inKey = SameName(line.substr(1, line.size() - 2), key);
    } else if (inKey && !IsComment(line)) {
      const auto equals = line.find('=');
      if (equals != std::string::npos && SameName(line.substr(0, equals), name))
        return line.substr(equals + 1);
    }
  }
  return std::nullopt;
}

bool SettingsStore::Write(const std::string& key, const std::string& name,
                          const std::string& value) const {
  if (!StorableKey(key) || !StorableName(name) || !StorableValue(value)) return false;

  std::optional<std::vector<std::string>> read = ReadLines(path_);
  if (!read) return false;
  std::vector<std::string>& lines = *read;
  const std::string entry = name + "=" + value;
  bool inKey = false;
  bool written = false;
  std::size_t keyEnd = lines.size();  // where to append inside an existing section
  bool keyFound = false;
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    const std::string& line = lines[i];
    if (IsSection(line)) {
      if (inKey) {
        keyEnd = i;
        break;
      }
      inKey = SameName(line.substr(1, line.size() - 2), key);
      keyFound = keyFound || inKey;
    } else if (inKey && !IsComment(line)) {
      const auto equals = line.find('=');
      if (equals != std::string::npos && SameName(line.substr(0, equals), name)) {
        lines[i] = entry;
        written = true;
      }
    }
  }
  if (!written) {
    if (keyFound) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(keyEnd), entry);
    } else {
      lines.push_back("[" + key + "]");
      lines.push_back(entry);
    }
  }

  std::error_code error;
  const std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return ReplaceFile(path_, text);
}

}  // namespace torva::platform
