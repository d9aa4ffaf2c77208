#pragma once
// A fixture with a fresh directory of the test's own and a machine-settings file inside it, named
// through TORVA_SETTINGS for the duration of the test.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/settings_store.h"

namespace torva::testing {

class ScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    directory_ = std::filesystem::temp_directory_path() /
                 ("torva-test-" + std::to_string(::getpid()) + "-" + test->test_suite_name() +
                  "-" + test->name());
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
    ::setenv(platform::kSettingsPathVariable, Path("machine-settings.conf").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv(platform::kSettingsPathVariable);
    std::filesystem::remove_all(directory_);
  }

  // A path inside the scratch directory.
  std::string Path(const std::string& name) const { return (directory_ / name).string(); }
  platform::SettingsStore Settings() const { return platform::SettingsStore::Machine(); }

  void WriteFile(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path directory_;
};

}  // namespace torva::testing
