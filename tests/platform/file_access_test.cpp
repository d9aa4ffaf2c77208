// Reading files without blocking and replacing them whole.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_replace.h"
#include "platform/regular_file_read.h"
#include "tests/support/fifo_reader_guard.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/scratch_directory.h"

namespace torva::platform {
namespace {

using torva::testing::FileSizeLimit;
using torva::testing::MakeFifo;
using torva::testing::ReturnsWithoutAWriter;

class FileAccessTest : public torva::testing::ScratchDirectory {
 protected:
  // The names in the directory: a failed or finished replace leaves no temporary file.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  struct stat Status(const std::string& name) const {
    struct stat status {};
    EXPECT_EQ(::stat(Path(name).c_str(), &status), 0);
    return status;
  }
};

// --- Reading ------------------------------------------------------------------------------------

TEST_F(FileAccessTest, WhatIsNotARegularFileIsNeverReadAndNeverWaitedOn) {
  WriteFile(Path("file"), "x");
  std::filesystem::create_directories(Path("folder"));
  ASSERT_TRUE(MakeFifo(Path("fifo")));
  struct Case {
    std::string path;
    FileReadStatus status;
  };
  const std::vector<Case> cases = {
      {Path("absent"), FileReadStatus::kMissing},
      {Path("file") + "/below", FileReadStatus::kMissing},
      {Path("folder"), FileReadStatus::kUnreadable},
      {Path("fifo"), FileReadStatus::kUnreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FileRead whole;
    FileRead start;
    EXPECT_TRUE(ReturnsWithoutAWriter(Path("fifo"), [&] {
      whole = ReadRegularFile(c.path, 1024);
      start = ReadRegularFileStart(c.path, 4);
    }));
    EXPECT_EQ(whole.status, c.status);
    EXPECT_EQ(start.status, c.status);
    EXPECT_TRUE(whole.bytes.empty());
  }
}

TEST_F(FileAccessTest, AWholeFileIsReadUpToItsLimitAndAStartAsFarAsAsked) {
  WriteFile(Path("ten"), "0123456789");
  const FileRead whole = ReadRegularFile(Path("ten"), 10);
  EXPECT_EQ(whole.status, FileReadStatus::kRead);
  EXPECT_EQ(whole.bytes, "0123456789");

  const FileRead tooLarge = ReadRegularFile(Path("ten"), 9);
  EXPECT_EQ(tooLarge.status, FileReadStatus::kTooLarge);
  EXPECT_TRUE(tooLarge.bytes.empty());
  EXPECT_EQ(tooLarge.size, 10u);

  const FileRead start = ReadRegularFileStart(Path("ten"), 4);
  EXPECT_EQ(start.bytes, "0123");
  EXPECT_EQ(start.size, 10u);
  EXPECT_EQ(ReadRegularFileStart(Path("ten"), 40).bytes, "0123456789");
}

// --- Replacing ----------------------------------------------------------------------------------

TEST_F(FileAccessTest, ANewFileIsCreatedWithThePermissionsOfAPlainCreate) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ASSERT_TRUE(ReplaceFile(Path("new"), "bytes\r\n"));
  EXPECT_EQ(ReadFile(Path("new")), "bytes\r\n");
  EXPECT_EQ(Status("new").st_mode & 07777, 0666 & ~mask);
  EXPECT_EQ(Names(), std::vector<std::string>{"new"});
}

TEST_F(FileAccessTest, AReplacedFileKeepsItsOwnerGroupAndMode) {
  WriteFile(Path("kept"), "old");
  ASSERT_EQ(::chmod(Path("kept").c_str(), 0640), 0);
  // Only root can give a file away; elsewhere the owner is this process's already.
  const bool root = ::geteuid() == 0;
  const uid_t owner = root ? 4321 : ::geteuid();
  const gid_t group = root ? 8765 : ::getegid();
  if (root) {
    ASSERT_EQ(::chown(Path("kept").c_str(), owner, group), 0);
  }

  ASSERT_TRUE(ReplaceFile(Path("kept"), "new contents"));
  EXPECT_EQ(ReadFile(Path("kept")), "new contents");
  const struct stat status = Status("kept");
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_uid, owner);
  EXPECT_EQ(status.st_gid, group);
  EXPECT_EQ(Names(), std::vector<std::string>{"kept"});
}

TEST_F(FileAccessTest, AWriteThatFailsPartWayLeavesTheOldFileAndNoTemporary) {
  WriteFile(Path("setup"), "the good old contents\r\n");
  bool replaced = true;
  {
    FileSizeLimit limit(64);
    ASSERT_TRUE(limit.Applied());
    replaced = ReplaceFile(Path("setup"), std::string(4096, 'x'));
  }
  EXPECT_FALSE(replaced);
  EXPECT_EQ(ReadFile(Path("setup")), "the good old contents\r\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"setup"});
}

// A link put where the file goes (say to /etc/passwd, by someone who may write the folder) is
// refused: neither the link nor the file it names changes.
TEST_F(FileAccessTest, ASymbolicLinkIsRefusedAndWhatItNamesIsLeftAlone) {
  WriteFile(Path("real"), "old");
  std::filesystem::create_symlink(Path("real"), Path("link"));
  EXPECT_FALSE(ReplaceFile(Path("link"), "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link")));
  EXPECT_EQ(ReadFile(Path("real")), "old");
  EXPECT_EQ(Names(), (std::vector<std::string>{"link", "real"}));
}

TEST_F(FileAccessTest, WhatIsNotARegularFileIsNotReplaced) {
  std::filesystem::create_directories(Path("folder"));
  ASSERT_TRUE(MakeFifo(Path("fifo")));
  EXPECT_FALSE(ReplaceFile(Path("folder"), "x"));
  EXPECT_FALSE(ReplaceFile(Path("fifo"), "x"));
  EXPECT_FALSE(ReplaceFile(Path("absent-folder/file"), "x"));
  EXPECT_TRUE(std::filesystem::is_directory(Path("folder")));
  EXPECT_TRUE(std::filesystem::is_fifo(Path("fifo")));
  EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "folder"}));
}

}  // namespace
}  // namespace torva::platform
