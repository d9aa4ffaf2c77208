// The C3D writer's frames: one per frame number from the first row on, zeros for what no plate
// delivered (counted), and the counts completed at the end.

#include "host/analysis/c3d_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/scratch_directory.h"

namespace torva::host::analysis {
namespace {

class C3dWriterTest : public testing::ScratchDirectory {
 protected:
  // Whether the file holds the prelude and exactly `frames` frames, its counts saying so.
  void ExpectFramesInFile(const C3dEncoder& encoder, std::uint64_t frames, std::size_t padding) {
    EXPECT_EQ(std::filesystem::file_size(Path("t.c3d")),
              encoder.Prelude().size() + frames * encoder.FrameBytes() + padding);
    const std::string bytes = ReadFile(Path("t.c3d"));
    for (const C3dPatch& patch : encoder.FrameCountPatches(frames)) {
      EXPECT_EQ(bytes.substr(patch.offset, patch.bytes.size()),
                std::string(patch.bytes.begin(), patch.bytes.end()))
          << patch.offset;
    }
  }
  std::unique_ptr<OutputFile> Open() {
    std::string error;
    auto file = OutputFile::Open(Path("t.c3d"), error, OutputFile::Placement::kReplaceWhenKept,
                                 OutputFile::Units::kRecords);
    EXPECT_TRUE(file) << error;
    return file;
  }
  static C3dDescription TwoPlates() {
    C3dDescription description;
    description.analogRate = 1000;
    description.plates = {{"A", {}, {}}, {"B", {}, {}}};
    return description;
  }
  const PlateShape shape_{0.6, 0.4, 0, 0, -0.04};
  const PlateSample loaded_ = {1, 2, -700, 3, 4, 5, 0.01f, 0.02f, 0};
};

TEST_F(C3dWriterTest, FramesNoPlateDeliveredAndMissingPlatesAreZerosAndCounted) {
  auto file = Open();
  ASSERT_TRUE(file);
  C3dWriter writer(*file, TwoPlates(), {shape_, shape_});
  writer.WriteRow(10, {loaded_, loaded_});
  writer.WriteRow(11, {loaded_, std::nullopt});  // B missed frame 11
  writer.WriteRow(14, {loaded_, loaded_});         // no plate delivered 12 and 13
  // A jump far beyond the longest gap filled is closed up, not filled.
  writer.WriteRow(16 + 1000 * static_cast<std::int64_t>(C3dWriter::kLongestFilledGapSeconds),
                  {loaded_, loaded_});
  ASSERT_TRUE(writer.Finish());
  EXPECT_EQ(writer.Frames(), 6u);
  EXPECT_EQ(writer.ZeroFilled(), 1u + 2u * 2u);
  EXPECT_EQ(writer.FramesClosedUp(), 1000 * C3dWriter::kLongestFilledGapSeconds + 1);
  ASSERT_TRUE(file->Keep());
  const C3dEncoder encoder(TwoPlates());
  ExpectFramesInFile(encoder, 6, encoder.Padding(6));
}

// A disk that fills up in mid-frame: the file is cut back to its last whole frame and its counts
// say how many it holds, so what was written stays a valid file.
TEST_F(C3dWriterTest, AFullDiskLeavesAValidFileOfTheWholeFramesWritten) {
  const C3dEncoder encoder(TwoPlates());
  const std::uint64_t fit = 1000;
  auto file = Open();
  ASSERT_TRUE(file);
  {
    testing::FileSizeLimit limit(encoder.Prelude().size() + fit * encoder.FrameBytes() +
                                 encoder.FrameBytes() / 2);
    ASSERT_TRUE(limit.Applied());
    C3dWriter writer(*file, TwoPlates(), {shape_, shape_});
    for (std::int64_t frame = 0; frame < 100000; ++frame) writer.WriteRow(frame, {loaded_, loaded_});
    EXPECT_FALSE(writer.Finish());
  }
  ASSERT_TRUE(file->Failure());
  file->Keep();
  ExpectFramesInFile(encoder, fit, 0);
}

}  // namespace
}  // namespace torva::host::analysis
