// The C3D writer's frames: one per frame number from the first row on, zeros for what no plate
// delivered (counted), and the counts completed at the end.

#include "host/analysis/c3d_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/scratch_directory.h"

namespace torva::host::analysis {
namespace {

class C3dWriterTest : public testing::ScratchDirectory {};

TEST_F(C3dWriterTest, FramesNoPlateDeliveredAndMissingPlatesAreZerosAndCounted) {
  std::string error;
  auto file = OutputFile::Open(Path("t.c3d"), error, OutputFile::Placement::kReplaceWhenKept,
                               OutputFile::Units::kRecords);
  ASSERT_TRUE(file) << error;
  C3dDescription description;
  description.analogRate = 1000;
  description.plates = {{"A", {}, {}}, {"B", {}, {}}};
  const PlateShape shape{0.6, 0.4, 0, 0, -0.04};
  C3dWriter writer(*file, description, {shape, shape});
  const PlateSample loaded = {1, 2, -700, 3, 4, 5, 0.01f, 0.02f, 0};
  writer.WriteRow(10, {loaded, loaded});
  writer.WriteRow(11, {loaded, std::nullopt});  // B missed frame 11
  writer.WriteRow(14, {loaded, loaded});         // no plate delivered 12 and 13
  // A jump far beyond the longest gap filled is closed up, not filled.
  writer.WriteRow(16 + 1000 * static_cast<std::int64_t>(C3dWriter::kLongestFilledGapSeconds),
                  {loaded, loaded});
  ASSERT_TRUE(writer.Finish());
  EXPECT_EQ(writer.Frames(), 6u);
  EXPECT_EQ(writer.ZeroFilled(), 1u + 2u * 2u);
  EXPECT_EQ(writer.FramesClosedUp(), 1000 * C3dWriter::kLongestFilledGapSeconds + 1);
  ASSERT_TRUE(file->Keep());

  const C3dEncoder encoder(description);
  EXPECT_EQ(std::filesystem::file_size(Path("t.c3d")),
            encoder.Prelude().size() + 6 * encoder.FrameBytes() + encoder.Padding(6));
  const std::string bytes = ReadFile(Path("t.c3d"));
  for (const C3dPatch& patch : encoder.FrameCountPatches(6)) {
    EXPECT_EQ(bytes.substr(patch.offset, patch.bytes.size()),
              std::string(patch.bytes.begin(), patch.bytes.end()))
        << patch.offset;
  }
}

}  // namespace
}  // namespace torva::host::analysis
