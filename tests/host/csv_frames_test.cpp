// The rows of a capture as the CSV shows them: header and columns, rows in frame order as frames
// complete, empty cells for a plate that did not deliver, and a bounded wait for a plate that
// stopped.

#include "host/csv_frames.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/host/frame_blocks.h"

namespace torva::host {
namespace {

constexpr double kRate = 1000.0;

FrameBlock Block(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
                 float fzOffset = 0) {
  return testing::FzBlock(device, firstFrame, samples, fzOffset);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CsvFramesTest : public ::testing::Test {
 protected:
  std::ostringstream out_;
  CsvFrames csv_{
      out_, {{"A", "\"Torva\" \"TypeA\" \"V1.0\""}, {"B", "\"Torva\" \"TypeC\" \"V1.0\""}}, kRate};
  FrameRows rows_{{"A", "B"}};
  CsvFramesTest() { rows_.AddSink(csv_); }
};

TEST_F(CsvFramesTest, HeadingNamesPluginPlatesRateAndEveryColumn) {
  csv_.WriteHeading({"/lib/libTorvaplugin.so", "1100", 1000, 36000, 36000000,
                     {"A x_mm=0 y_mm=0 z_mm=0 rotation_deg=0"}});
  const auto lines = Lines(out_.str());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "# plugin: /lib/libTorvaplugin.so");
  EXPECT_EQ(lines[1], "# plate: A (\"Torva\" \"TypeA\" \"V1.0\")");
  EXPECT_EQ(lines[3],
            "# rate: requested 1100, applied 1000 samples/s (36000000 / 36000 ticks per "
            "sample)");
  EXPECT_EQ(lines[4], "# layout: A x_mm=0 y_mm=0 z_mm=0 rotation_deg=0");
  EXPECT_EQ(lines[5],
            "frame,time_s,A.Fx_N,A.Fy_N,A.Fz_N,A.Mx_Nm,A.My_Nm,A.Mz_Nm,A.Cx_m,A.Cy_m,A.Cz_m,"
            "B.Fx_N,B.Fy_N,B.Fz_N,B.Mx_Nm,B.My_Nm,B.Mz_Nm,B.Cx_m,B.Cy_m,B.Cz_m");
}

TEST_F(CsvFramesTest, RowsWaitUntilEveryPlateHasDeliveredTheFrame) {
  rows_.Add(Block("A", 16, 16));
  EXPECT_EQ(rows_.RowsWritten(), 0u);  // B has delivered nothing yet
  rows_.Add(Block("B", 16, 16, 0.5f));
  EXPECT_EQ(rows_.RowsWritten(), 16u);
  rows_.Add(Block("B", 32, 16, 0.5f));
  EXPECT_EQ(rows_.RowsWritten(), 16u);  // A has not delivered 32..47
  rows_.Add(Block("A", 32, 16));
  EXPECT_EQ(rows_.RowsWritten(), 32u);
  const auto lines = Lines(out_.str());
  ASSERT_EQ(lines.size(), 32u);
  EXPECT_EQ(lines[0], "16,0.016000,0,1,16,3,4,5,6,7,8,0,1,16.5,3,4,5,6,7,8");
  for (std::size_t row = 0; row < lines.size(); ++row)
    EXPECT_EQ(lines[row].substr(0, lines[row].find(',')), std::to_string(16 + row));
}

TEST_F(CsvFramesTest, AFrameOnePlateSkippedLeavesItsCellsEmpty) {
  rows_.Add(Block("A", 0, 2));
  rows_.Add(Block("B", 0, 1));
  rows_.Add(Block("B", 2, 1));  // B skipped frame 1 and delivered a later one
  rows_.Add(Block("A", 2, 1));
  const auto lines = Lines(out_.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "1,0.001000,0,1,1,3,4,5,6,7,8,,,,,,,,,");
}

TEST_F(CsvFramesTest, OutputsListedInAnotherOrderLandInTheirColumns) {
  FrameBlock block;
  block.device = "A";
  block.firstFrame = 5;
  block.samples = 1;
  block.outputs = {2, 0, 1};  // CoP, Force, Moment
  block.values = {7, 8, 9, 1, 2, 3, 4, 5, 6};
  rows_.Add(block);
  rows_.Add(Block("B", 5, 1));
  const auto lines = Lines(out_.str());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, lines[0].find(",0,1,5")), "5,0.005000,1,2,3,4,5,6,7,8,9");
}

TEST_F(CsvFramesTest, APlateThatStopsDeliveringHoldsBackAtMostTheBoundedWait) {
  rows_.Add(Block("B", 0, 1));
  const std::uint32_t total = FrameRows::kMaxPendingFrames + 64;
  for (std::uint32_t frame = 0; frame < total; frame += 16) rows_.Add(Block("A", frame, 16));
  EXPECT_GE(rows_.RowsWritten(), total - FrameRows::kMaxPendingFrames);
  // A late block for frames already written is dropped, not written out of order.
  rows_.Add(Block("B", 1, 1));
  EXPECT_EQ(rows_.LateSamples(), 1u);
  rows_.Finish();
  EXPECT_EQ(rows_.RowsWritten(), total);
  const auto lines = Lines(out_.str());
  for (std::size_t row = 1; row < lines.size(); ++row)
    ASSERT_EQ(std::stoll(lines[row]), std::stoll(lines[row - 1]) + 1) << row;
}

TEST_F(CsvFramesTest, BlocksOfOtherDevicesAndShortBlocksAreIgnored) {
  rows_.Add(Block("Torva Shared Config Device", 0, 16));
  FrameBlock shortBlock = Block("A", 0, 16);
  shortBlock.values.resize(kValuesPerSample);  // only the first sample's values
  rows_.Add(shortBlock);
  rows_.Add(Block("B", 0, 16));
  rows_.Finish();
  EXPECT_EQ(rows_.RowsWritten(), 16u);
  EXPECT_EQ(Lines(out_.str())[1].substr(0, 11), "1,0.001000,");
  EXPECT_EQ(Lines(out_.str())[1].substr(11, 9), ",,,,,,,,,");
}

}  // namespace
}  // namespace torva::host
