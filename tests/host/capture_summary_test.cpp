// The capture summary per plate, and the log's display of texts that are not UTF-8.

#include "host/capture_summary.h"

#include <gtest/gtest.h>

#include <string>

#include "host/display_text.h"
#include "host/plate_sample.h"

namespace torva::host {
namespace {

FrameBlock Block(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
                 float fz) {
  FrameBlock block;
  block.device = device;
  block.firstFrame = firstFrame;
  block.samples = samples;
  block.outputs = {0, 1, 2};
  for (std::uint32_t sample = 0; sample < samples; ++sample)
    for (std::size_t value = 0; value < kValuesPerSample; ++value)
      block.values.push_back(value == kFzIndex ? fz : 1.0f);
  return block;
}

TEST(CaptureSummary, CountsSamplesFramesGapsPeakAndLoadedShare) {
  CaptureSummary summary({"A", "B"});
  summary.Add(Block("A", 100, 16, 0.0f));
  summary.Add(Block("A", 116, 16, -700.5f));
  summary.Add(Block("A", 148, 16, 12.0f));  // 132..147 never came
  summary.Add(Block("other", 0, 16, 5000.0f));
  const PlateSummary& a = summary.Plates()[0];
  EXPECT_EQ(a.samples, 48u);
  EXPECT_EQ(*a.firstFrame, 100);
  EXPECT_EQ(*a.lastFrame, 163);
  EXPECT_EQ(a.MissingFrames(), 16u);
  EXPECT_DOUBLE_EQ(a.peakFz, 700.5);
  EXPECT_DOUBLE_EQ(a.LoadedShare(), 32.0 / 48.0);
  EXPECT_EQ(summary.Plates()[1].samples, 0u);
}

TEST(CaptureSummary, AFrameDeliveredTwiceCountsOnce) {
  CaptureSummary summary({"A"});
  summary.Add(Block("A", 0, 16, 1.0f));
  summary.Add(Block("A", 16, 16, 1.0f));
  summary.Add(Block("A", 8, 16, 1.0f));  // overlaps both
  summary.Add(Block("A", 64, 16, 1.0f));
  summary.Add(Block("A", 64, 16, 1.0f));
  const PlateSummary& a = summary.Plates()[0];
  EXPECT_EQ(a.samples, 48u);
  EXPECT_EQ(a.MissingFrames(), 32u);
}

TEST(CaptureSummary, ReportNamesEveryPlateAndTheLogCounts) {
  CaptureSummary summary({"A", "B"});
  summary.Add(Block("A", 0, 16, -750.0f));
  const std::string report = summary.Report(2, 1);
  EXPECT_NE(
      report.find("A: 16 samples, frames 0 to 15, 0 missing, peak |Fz| 750.0 N, 100.0% loaded"),
      std::string::npos)
      << report;
  EXPECT_NE(report.find("B: no samples"), std::string::npos) << report;
  EXPECT_NE(report.find("2 warnings, 1 errors"), std::string::npos) << report;
}

TEST(DisplayText, Utf8StaysAsItIs) {
  EXPECT_EQ(DisplayText("plain"), "plain");
  EXPECT_EQ(DisplayText("N\xC2\xB7m \xE2\x80\x99"), "N\xC2\xB7m \xE2\x80\x99");
}

TEST(DisplayText, OtherBytesAreReadAsWindows1252) {
  EXPECT_EQ(DisplayText("plate\x92s"), "plate\xE2\x80\x99s");  // right single quotation mark
  EXPECT_EQ(DisplayText("\x80 \xE9"), "\xE2\x82\xAC \xC3\xA9");
  EXPECT_EQ(DisplayText("\x81"), "\xEF\xBF\xBD");  // unset in the code page
}

TEST(DisplayText, MalformedUtf8IsNotTakenForUtf8) {
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xE2\x80"));      // cut short
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
}

}  // namespace
}  // namespace torva::host
