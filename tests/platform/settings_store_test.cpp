#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "tests/support/fifo_reader_guard.h"

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

  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

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

TEST_F(SettingsStoreTest, RefusesWhatCouldNotBeReadBackAndLeavesTheFileAsItWas) {
  SettingsStore store(path_);
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "/kept/"));
  const std::string before = Contents();
  struct Case {
    std::string key, name, value;
  };
  const std::vector<Case> cases = {
      {"SOFTWARE\\Torva\\CFG", "Path", "two\nlines"},
      {"SOFTWARE\\Torva\\CFG", "Path", "carriage\rreturn"},
      {"SOFTWARE\\Torva\\CFG", "Pa=th", "x"},
      {"SOFTWARE\\Torva\\CFG", "#Path", "x"},      // would read as a comment
      {"SOFTWARE\\Torva\\CFG", ";Path", "x"},      // would read as a comment
      {"SOFTWARE\\Torva\\CFG", "[Path", "x]"},     // would read as a section
      {"SOFTWARE\\Torva\\CFG", "Pa\nth", "x"},
      {"SOFTWARE\\Torva\\CFG", "", "x"},
      {"SOFT]WARE", "Path", "x"},
      {"SOFT\nWARE", "Path", "x"},
      {"", "Path", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + " / " + c.name + " / " + c.value);
    EXPECT_FALSE(store.Write(c.key, c.name, c.value));
  }
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(store.Read("SOFTWARE\\Torva\\CFG", "Path"), "/kept/");
  // Characters that read back as written are accepted.
  ASSERT_TRUE(store.Write("[Torva", "Pa#th;[x]", "=[y]"));
  EXPECT_EQ(store.Read("[Torva", "Pa#th;[x]"), "=[y]");
}

TEST_F(SettingsStoreTest, AFileThatCannotBeReadIsNeverRewritten) {
  std::filesystem::create_directories(directory_ / "sub");
  ASSERT_TRUE(torva::testing::MakeFifo(path_));
  SettingsStore store(path_);
  bool written = true;
  std::optional<std::string> read;
  EXPECT_TRUE(torva::testing::ReturnsWithoutAWriter(path_, [&] {
    written = store.Write("SOFTWARE\\Torva\\CFG", "Path", "/a/");
    read = store.Read("SOFTWARE\\Torva\\CFG", "Path");
  }));
  EXPECT_FALSE(written);
  EXPECT_FALSE(read.has_value());
  EXPECT_TRUE(std::filesystem::is_fifo(path_));
}

TEST_F(SettingsStoreTest, AWriteKeepsTheFilesModeAndLeavesNoTemporaryFile) {
  SettingsStore store(path_);
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\CFG", "Path", "/a/"));
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::owner_write |
                                          std::filesystem::perms::group_read);
  ASSERT_TRUE(store.Write("SOFTWARE\\Torva\\HPS", "Path", "/b/"));
  EXPECT_EQ(std::filesystem::status(path_).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_ / "sub"),
                          std::filesystem::directory_iterator()),
            1);
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
