#pragma once
// The machine-settings store: string values under keys such as "SOFTWARE\Torva\CFG", name "Path",
// kept in one plain-text file per machine. Its location is the environment variable
// TORVA_SETTINGS when set, else kDefaultSettingsPath.
//
// File format, one key per section, names and keys compared without regard to case:
//   [SOFTWARE\Torva\CFG]
//   Path=/var/lib/torva/cfg/
// Lines starting with '#' or ';' are comments. Values keep everything after the first '='.
//
// Every call reads (and a write rewrites) the whole file; the file is small and read rarely.
// Writes go through a temporary file and a rename (ReplaceFile), so a reader never sees half a
// file and a failed write leaves the old one. A file that exists but cannot be read (not a
// regular file, no permission, a read error, larger than kMaxSettingsFileBytes) gives no values
// and is never rewritten.

#include <cstdint>
#include <optional>
#include <string>

namespace torva::platform {

inline constexpr const char* kDefaultSettingsPath = "/etc/torva/machine-settings.conf";
inline constexpr const char* kSettingsPathVariable = "TORVA_SETTINGS";
// A settings file holds a few short lines; a larger one is not a settings file.
inline constexpr std::uint64_t kMaxSettingsFileBytes = 1024 * 1024;

class SettingsStore {
 public:
  // The store of this machine (file from TORVA_SETTINGS or the default path).
  static SettingsStore Machine();
  explicit SettingsStore(std::string path) : path_(std::move(path)) {}

  // The value, or nothing when the file, the key or the name is missing, or the file cannot be
  // read.
  std::optional<std::string> Read(const std::string& key, const std::string& name) const;
  // Sets the value, creating the file (and its directory) when needed. False, with the file left
  // as it was, when the key, name or value could not be read back as written (empty key or name,
  // a line break anywhere, ']' in the key, '=' in the name, a name starting with '#', ';' or
  // '['), when the file exists but cannot be read, or when it cannot be written.
  bool Write(const std::string& key, const std::string& name, const std::string& value) const;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace torva::platform
