#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/settings_store.h"

namespace torva::platform {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("torva-settings-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(directory_);
    path_ = (directory_ / "sub" / "machine.conf").string();
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::filesystem::path directory_;
  std::string path_;
};

TEST_F(SettingsStoreTest, AMissingFileHasNoValue) {
  SettingsStore store(path_);
  EXPECT_FALSE(store.Read("SOFTWARE\\Torva\\CFG", "Path").has_value());
}

TEST_F(SettingsStoreTest, WritingCreatesTheFileAndReadsBack) {
  SettingsStore store(path_);
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "/var/lib/torva/cfg/"));
  EXPECT_TRUE(std::filesystem::exists(path_));
  EXPECT_EQ(store.Read("SOFTWARE\\Torva\\CFG", "Path"), "/var/lib/torva/cfg/");
  EXPECT_FALSE(store.Read("SOFTWARE\\Torva\\HPS", "Path").has_value());
}

TEST_F(SettingsStoreTest, KeysAreIndependentAndOverwritesReplace) {
  SettingsStore store(path_);
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "/a/"));
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\HPS", "Path", "/b/"));
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\CFG", "Other", "x=y"));
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "/c/"));
  EXPECT_EQ(store.Read("SOFTWARE\\Torva\\CFG", "Path"), "/c/");
  EXPECT_EQ(store.Read("SOFTWARE\\Torva\\HPS", "Path"), "/b/");
  EXPECT_EQ(store.Read("SOFTWARE\\Torva\\CFG", "Other"), "x=y");
}

TEST_F(SettingsStoreTest, NamesAndKeysIgnoreCaseLikeTheRegistry) {
  SettingsStore store(path_);
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "/a/"));
  EXPECT_EQ(store.Read("software\\torva\\cfg", "PATH"), "/a/");
}

TEST_F(SettingsStoreTest, HandWrittenFilesWithCommentsAndCrLfAreRead) {
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
  std::ofstream(path_) << "# machine settings\r\n[SOFTWARE\\Torva\\CFG]\r\n; note\r\nPath=/x/\r\n";
  EXPECT_EQ(SettingsStore(path_).Read("SOFTWARE\\Torva\\CFG", "Path"), "/x/");
}

TEST_F(SettingsStoreTest, RefusesTextThatWouldBreakTheFile) {
  SettingsStore store(path_);
  EXPECT_FALSE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "two\nlines"));
  EXPECT_FALSE(store.Write("SOFTWARE\\Torva\\CFG", "Pa=th", "x"));
  EXPECT_FALSE(store.Write("SOFT]WARE", "Path", "x"));
  EXPECT_FALSE(store.Write("SOFTWARE", "", "x"));
}

TEST_F(SettingsStoreTest, AnUnwritableLocationFailsCleanly) {
  std::filesystem::create_directories(directory_);
  std::ofstream((directory_ / "file").string()) << "x";
  SettingsStore store((directory_ / "file" / "machine.conf").string());
  EXPECT_FALSE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "/a/"));
}

TEST_F(SettingsStoreTest, TheMachineStoreFollowsTheEnvironment) {
  ::setenv(kSettingsPathVariable, path_.c_str(), 1);
  EXPECT_EQ(SettingsStore::Machine().Path(), path_);
  ::unsetenv(kSettingsPathVariable);
  EXPECT_EQ(SettingsStore::Machine().Path(), kDefaultSettingsPath);
}

}  // namespace
}  // namespace torva::platform
