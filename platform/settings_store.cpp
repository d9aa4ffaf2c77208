#include "platform/settings_store.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

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

bool Storable(const std::string& text, bool isName) {
  if (text.find_first_of("\r\n") != std::string::npos) return false;
  if (isName && (text.empty() || text.find_first_of("=]") != std::string::npos)) return false;
  return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
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
  bool inKey = false;
  for (const std::string& line : ReadLines(path_)) {
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
  if (!Storable(key, true) || !Storable(name, true) || !Storable(value, false)) return false;

  std::vector<std::string> lines = ReadLines(path_);
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
  const std::string temporary = path_ + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const std::string& line : lines) out << line << '\n';
    out.flush();
    if (!out) return false;
  }
  if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace torva::platform
