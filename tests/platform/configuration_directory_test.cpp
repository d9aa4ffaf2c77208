#include "platform/configuration_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/scratch_directory.h"

namespace torva::platform {
namespace {

class ConfigurationDirectoryTest : public testing::ScratchDirectory {
 protected:
  std::optional<std::string> Recorded() const {
    return Settings().Read(kConfigurationKey, kDirectoryValueName);
  }
};

TEST_F(ConfigurationDirectoryTest, ANamedDirectoryThatExistsIsUsedAsItIs) {
  std::filesystem::create_directories(Path("named"));
  ASSERT_TRUE(Settings().Write(kConfigurationKey, kDirectoryValueName, Path("named") + "/"));

  const ConfigurationDirectory located = LocateConfigurationDirectory(Path("default"));
  EXPECT_TRUE(located.found);
  EXPECT_EQ(located.path, Path("named") + "/");
  EXPECT_FALSE(std::filesystem::exists(Path("default")));
}

TEST_F(ConfigurationDirectoryTest, ANamedDirectoryWithoutTrailingSeparatorGainsOne) {
  std::filesystem::create_directories(Path("named"));
  ASSERT_TRUE(Settings().Write(kConfigurationKey, kDirectoryValueName, Path("named")));

  const ConfigurationDirectory located = LocateConfigurationDirectory(Path("default"));
  EXPECT_TRUE(located.found);
  EXPECT_EQ(located.path, Path("named") + "/");
  EXPECT_EQ(Recorded(), Path("named"));  // the setting itself is left as the user wrote it
}

TEST_F(ConfigurationDirectoryTest, WithoutASettingTheDefaultIsCreatedAndRecorded) {
  const std::string defaultDirectory = Path("var/lib/torva/cfg/");
  const ConfigurationDirectory located = LocateConfigurationDirectory(defaultDirectory);
  EXPECT_TRUE(located.found);
  EXPECT_EQ(located.path, defaultDirectory);
  EXPECT_TRUE(std::filesystem::is_directory(defaultDirectory));
  EXPECT_EQ(Recorded(), defaultDirectory);
}

TEST_F(ConfigurationDirectoryTest, ANamedDirectoryMissingForNowKeepsItsSettingForTheNextStart) {
  // An unmounted volume: this start uses the default, the setting is left for the next one.
  ASSERT_TRUE(Settings().Write(kConfigurationKey, kDirectoryValueName, Path("volume/cfg/")));
  const ConfigurationDirectory located = LocateConfigurationDirectory(Path("default"));
  EXPECT_TRUE(located.found);
  EXPECT_EQ(located.path, Path("default") + "/");
  EXPECT_TRUE(std::filesystem::is_directory(Path("default")));
  EXPECT_EQ(Recorded(), Path("volume/cfg/"));
  EXPECT_FALSE(std::filesystem::exists(Path("volume")));

  std::filesystem::create_directories(Path("volume/cfg"));  // mounted again
  EXPECT_EQ(LocateConfigurationDirectory(Path("default")).path, Path("volume/cfg/"));
}

TEST_F(ConfigurationDirectoryTest, AnExistingDefaultIsUsedAndRecorded) {
  std::filesystem::create_directories(Path("default"));
  const ConfigurationDirectory located = LocateConfigurationDirectory(Path("default/"));
  EXPECT_TRUE(located.found);
  EXPECT_EQ(located.path, Path("default/"));
  EXPECT_EQ(Recorded(), Path("default/"));
}

TEST_F(ConfigurationDirectoryTest, ADefaultThatCannotBeCreatedGivesTheCurrentDirectory) {
  WriteFile(Path("plain-file"), "not a directory");
  const ConfigurationDirectory located = LocateConfigurationDirectory(Path("plain-file/cfg/"));
  EXPECT_FALSE(located.found);
  EXPECT_EQ(located.path, WithTrailingSeparator(std::filesystem::current_path().string()));
  EXPECT_EQ(located.path.back(), '/');
  EXPECT_FALSE(Recorded().has_value());
}

TEST_F(ConfigurationDirectoryTest, AFailureToRecordTheDefaultIsIgnored) {
  WriteFile(Path("plain-file"), "not a directory");
  ::setenv(platform::kSettingsPathVariable, Path("plain-file/settings.conf").c_str(), 1);
  const ConfigurationDirectory located = LocateConfigurationDirectory(Path("default/"));
  EXPECT_TRUE(located.found);
  EXPECT_EQ(located.path, Path("default/"));
  EXPECT_TRUE(std::filesystem::is_directory(Path("default")));
}

TEST_F(ConfigurationDirectoryTest, AValueTooLongForItsBufferCountsAsMissing) {
  std::string longDirectory = Path("");
  while (longDirectory.size() < kDirectoryValueBytes) longDirectory += "long-name/";
  std::filesystem::create_directories(longDirectory);
  ASSERT_TRUE(Settings().Write(kConfigurationKey, kDirectoryValueName, longDirectory));

  EXPECT_FALSE(ReadDirectorySetting(kConfigurationKey).has_value());
  EXPECT_EQ(LocateConfigurationDirectory(Path("default/")).path, Path("default/"));
  EXPECT_EQ(Recorded(), longDirectory);  // recorded by someone: not ours to replace
}

TEST_F(ConfigurationDirectoryTest, AnEmptyValueCountsAsMissing) {
  ASSERT_TRUE(Settings().Write(kConfigurationKey, kDirectoryValueName, ""));
  EXPECT_FALSE(ReadDirectorySetting(kConfigurationKey).has_value());
  EXPECT_EQ(LocateConfigurationDirectory(Path("default/")).path, Path("default/"));
  EXPECT_EQ(Recorded(), Path("default/"));
}

TEST(ConfigurationDirectoryPathTest, TrailingSeparatorIsAddedOnce) {
  EXPECT_EQ(WithTrailingSeparator("/a/b"), "/a/b/");
  EXPECT_EQ(WithTrailingSeparator("/a/b/"), "/a/b/");
}

}  // namespace
}  // namespace torva::platform
