#pragma once
// Where the saved setup lives. The machine settings name the configuration directory; when they
// do not (or name one that does not exist), the default directory is created and used, and
// recorded in the settings when they name none.

#include <cstddef>
#include <optional>
#include <string>

namespace torva::platform {

inline constexpr const char* kConfigurationKey = "SOFTWARE\\Torva\\CFG";
inline constexpr const char* kDirectoryValueName = "Path";
inline constexpr const char* kDefaultConfigurationDirectory = "/var/lib/torva/cfg/";
// Directory values are read into a buffer of this many bytes, NUL included; a longer value
// counts as missing rather than being cut to a different directory.
inline constexpr std::size_t kDirectoryValueBytes = 250;
inline constexpr char kPathSeparator = '/';

struct ConfigurationDirectory {
  std::string path;    // always ends with kPathSeparator
  bool found = false;  // false: no directory could be found or made; `path` is the current one
};

// `directory` with kPathSeparator appended when it does not already end with one.
std::string WithTrailingSeparator(std::string directory);

// The directory named by value "Path" under `key` of the machine settings, with a trailing
// separator. Nothing when the value is missing, empty or longer than kDirectoryValueBytes - 1.
std::optional<std::string> ReadDirectorySetting(const std::string& key);

// The directory named in the settings when it exists; otherwise `defaultDirectory`, created with
// its parents. The default is written to the settings (a failed write is ignored) only when they
// hold no directory value: a named directory that is missing for now keeps its setting. When the
// default cannot be created: not found, and the process's current directory.
ConfigurationDirectory LocateConfigurationDirectory(
    const std::string& defaultDirectory = kDefaultConfigurationDirectory);

}  // namespace torva::platform
