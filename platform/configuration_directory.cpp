#include "platform/configuration_directory.h"

#include <filesystem>
#include <system_error>

#include "platform/settings_store.h"

namespace torva::platform {
namespace {

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return WithTrailingSeparator(error ? std::string(".") : current.string());
}

// Whether the settings hold a directory value for the configuration, usable or not. An empty
// value names nothing and counts as not recorded.
bool DirectoryIsRecorded() {
  const std::optional<std::string> value =
      platform::SettingsStore::Machine().Read(kConfigurationKey, kDirectoryValueName);
  return value && !value->empty();
}

}  // namespace

std::string WithTrailingSeparator(std::string directory) {
  if (directory.empty() || directory.back() != kPathSeparator) directory.push_back(kPathSeparator);
  return directory;
}

std::optional<std::string> ReadDirectorySetting(const std::string& key) {
  const std::optional<std::string> value =
      platform::SettingsStore::Machine().Read(key, kDirectoryValueName);
  if (!value || value->empty() || value->size() >= kDirectoryValueBytes) return std::nullopt;
  return WithTrailingSeparator(*value);
}

ConfigurationDirectory LocateConfigurationDirectory(const std::string& defaultDirectory) {
  const std::optional<std::string> named = ReadDirectorySetting(kConfigurationKey);
  if (named && IsDirectory(*named)) return {*named, true};

  const std::string directory = WithTrailingSeparator(defaultDirectory);
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error || !IsDirectory(directory)) return {CurrentDirectory(), false};

  // Recording the default only saves the next start this work; failing to record it is harmless.
  // A directory the settings name stays named even while it is missing (an unmounted volume):
  // this run uses the default, the next one finds the named directory again once it is back.
  if (!DirectoryIsRecorded())
    platform::SettingsStore::Machine().Write(kConfigurationKey, kDirectoryValueName, directory);
  return {directory, true};
}

}  // namespace torva::platform
