// torva-host's outputs: whole lines only when the disk fills, an earlier file kept until a new one
// is kept, and nothing that is not a regular file opened.

#include "host/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/support/fifo_reader_guard.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/scratch_directory.h"

namespace torva::host {
namespace {

class OutputFileTest : public testing::ScratchDirectory {
 protected:
  std::unique_ptr<OutputFile> Open(const std::string& name,
                                   OutputFile::Placement placement =
                                       OutputFile::Placement::kReplaceWhenKept) {
    std::string error;
    auto output = OutputFile::Open(Path(name), error, placement);
    EXPECT_TRUE(output) << error;
    return output;
  }
};

// A write that fails part-way (here a file-size limit, as a full disk would) leaves the lines
// written before, never half a line; the failure names the file and the reason, later text is
// dropped, and what was written is still put in place.
TEST_F(OutputFileTest, AFailedWriteLeavesWholeLinesAndSaysWhy) {
  for (const auto placement : {OutputFile::Placement::kReplaceWhenKept,
                               OutputFile::Placement::kInPlace}) {
    auto output = Open("rows.csv", placement);
    const std::string row = std::string(99, 'x') + "\n";
    {
      testing::FileSizeLimit limit(1050);
      ASSERT_TRUE(limit.Applied());
      for (int i = 0; i < 2000; ++i) output->Stream() << row;
      output->Stream().flush();
    }
    ASSERT_TRUE(output->Failure());
    EXPECT_EQ(*output->Failure(), "cannot write " + Path("rows.csv") + ": File too large");
    EXPECT_FALSE(output->Stream());
    EXPECT_FALSE(output->Keep());
    const std::string kept = ReadFile(Path("rows.csv"));
    EXPECT_EQ(kept.size(), 10 * row.size());
    EXPECT_EQ(kept.find_first_not_of(row), std::string::npos);
  }
}

// Until it is kept, a new output leaves the file of its name as it was; one that is never kept
// leaves nothing behind. A kept one takes the old file's permissions.
TEST_F(OutputFileTest, AnEarlierFileStaysUntilTheNewOneIsKept) {
  WriteFile(Path("capture.csv"), "earlier\n");
  ASSERT_EQ(::chmod(Path("capture.csv").c_str(), 0640), 0);
  {
    auto abandoned = Open("capture.csv");
    abandoned->Stream() << "# heading only\n";
    abandoned->Flush();
  }
  EXPECT_EQ(ReadFile(Path("capture.csv")), "earlier\n");
  auto kept = Open("capture.csv");
  kept->Stream() << "new\nlast line without an end";
  EXPECT_EQ(ReadFile(Path("capture.csv")), "earlier\n");
  ASSERT_TRUE(kept->Keep());
  EXPECT_EQ(ReadFile(Path("capture.csv")), "new\nlast line without an end\n");
  struct stat status {};
  ASSERT_EQ(::stat(Path("capture.csv").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_), {}), 1);
}

// A FIFO (or device, or folder) is refused at once in either placement: opening one to write
// would wait for a reader for ever.
TEST_F(OutputFileTest, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  ASSERT_TRUE(testing::MakeFifo(Path("fifo")));
  std::filesystem::create_directories(Path("folder"));
  for (const auto placement : {OutputFile::Placement::kReplaceWhenKept,
                               OutputFile::Placement::kInPlace}) {
    for (const char* name : {"fifo", "folder"}) {
      std::string error;
      EXPECT_TRUE(testing::ReturnsWithoutAWriter(Path("fifo"), [&] {
        EXPECT_FALSE(OutputFile::Open(Path(name), error, placement));
      }));
      EXPECT_EQ(error, "cannot write " + Path(name) + ": not a regular file");
    }
  }
}

}  // namespace
}  // namespace torva::host
