// The lab layout file: plates placed as it says, every fault named with its file and line, the
// default row for plates it does not name, and the text written for it read back exactly.

#include "host/analysis/lab_layout.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/fifo_reader_guard.h"
#include "tests/support/scratch_directory.h"

namespace torva::host::analysis {
namespace {

const std::string kFirst = "TA601201P048311";
const std::string kSecond = "TA601202P048318";
const PlateShape kLongPlate{0.9, 0.6, 0, 0, 0};
const PlateShape kShortPlate{0.6, 0.4, 0, 0, 0};

void ExpectPlacement(const LabPlacement& actual, const LabPlacement& expected) {
  EXPECT_EQ(actual.xMm, expected.xMm);
  EXPECT_EQ(actual.yMm, expected.yMm);
  EXPECT_EQ(actual.zMm, expected.zMm);
  EXPECT_EQ(actual.rotationDeg, expected.rotationDeg);
}

class LabLayoutTest : public testing::ScratchDirectory {
 protected:
  // Reads `text` as a layout file; the error when it is refused.
  std::optional<LabLayout> ReadText(const std::string& text, std::string& error) {
    WriteFile(Path("lab.ini"), text);
    return LabLayout::Read(Path("lab.ini"), error);
  }
  // The error a layout file of `text` is refused with, without the file's name.
  std::string Refusal(const std::string& text) {
    std::string error;
    if (ReadText(text, error)) return "read";
    const std::string prefix = Path("lab.ini") + ":";
    return error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error;
  }
};

TEST_F(LabLayoutTest, PlacesThePlatesAsTheFileSays) {
  std::string error;
  const auto layout = ReadText("; the force lab\n[" + kFirst + "]\nx_mm = -12.5\ny_mm=40\n"
                               "z_mm = 3\nrotation_deg = 180\n\n# turned a quarter\n[" + kSecond +
                               "]\n  rotation_deg = 90  \nx_mm = 700\r\ny_mm = 0\n",
                               error);
  ASSERT_TRUE(layout) << error;
  std::vector<std::string> warnings;
  const auto placements = layout->Place({kSecond, kFirst}, {kShortPlate, kLongPlate}, warnings);
  EXPECT_TRUE(warnings.empty());
  ASSERT_EQ(placements.size(), 2u);
  ExpectPlacement(placements[0], {700, 0, 0, 90});
  ExpectPlacement(placements[1], {-12.5, 40, 3, 180});
}

// Each fault names the line it stands on, also where a key name repeats in another section.
TEST_F(LabLayoutTest, EachFaultNamesItsLine) {
  const std::string first = "[" + kFirst + "]\nx_mm = 0\ny_mm = 0\n";
  const std::string twice = "] is given twice (first on line 1)";
  const std::vector<std::pair<std::string, std::string>> cases{
      {first + "rotation = 90\n", "4: unknown key rotation (a plate's keys are x_mm, y_mm, z_mm, "
                                  "rotation_deg)"},
      {first + "[B]\ny_mm = 1\nx_mm = abc\n", "6: x_mm = abc is not a finite number"},
      {first + "z_mm = nan\n", "4: z_mm = nan is not a finite number"},
      {first + "z_mm = inf\n", "4: z_mm = inf is not a finite number"},
      {first + "z_mm = 1e999\n", "4: z_mm = 1e999 is not a finite number"},
      {first + "z_mm = 12 mm\n", "4: z_mm = 12 mm is not a finite number"},
      {first + "z_mm =\n", "4: z_mm has no value"},
      {"; lab\nx_mm = 0\n" + first, "2: key x_mm is outside any plate section"},
      {first + "\n[" + kFirst + "]\n", "5: section [" + kFirst + twice},
      {"[" + kFirst + "]\n" + first, "2: section [" + kFirst + twice},
      {"[A]\n[B]\n[A]\nx_mm = 1\n", "3: section [A] is given twice (first on line 1)"},
      {first + "x_mm = 1\n", "4: key x_mm is given twice in section [" + kFirst +
                             "] (first on line 2)"},
      {first + "[B]\nx_mm = 1\n", "4: plate B has no y_mm"},
      {first + "[]\n", "4: a section without a plate name"},
      {first + "z_mm\n", "4: '=' character not found in line"},
      {first + "[B\n", "4: unmatched '['"},
  };
  for (const auto& [text, refusal] : cases) EXPECT_EQ(Refusal(text), refusal) << text;
}

TEST_F(LabLayoutTest, AFileThatCannotBeReadIsNamedWithTheReason) {
  std::string error;
  EXPECT_FALSE(LabLayout::Read(Path("missing.ini"), error));
  EXPECT_EQ(error, Path("missing.ini") + ": No such file or directory");
  EXPECT_FALSE(LabLayout::Read(Path(""), error));
  EXPECT_EQ(error, Path("") + ": Is a directory");
  ASSERT_TRUE(testing::MakeFifo(Path("fifo.ini")));
  EXPECT_TRUE(testing::ReturnsWithoutAWriter(Path("fifo.ini"), [&] {
    EXPECT_FALSE(LabLayout::Read(Path("fifo.ini"), error));
  }));
  EXPECT_EQ(error, Path("fifo.ini") + ": not a regular file");
}

TEST_F(LabLayoutTest, AFileWithoutReadPermissionIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads a file without read permission";
  WriteFile(Path("private.ini"), "");
  ASSERT_EQ(::chmod(Path("private.ini").c_str(), 0), 0);
  std::string error;
  EXPECT_FALSE(LabLayout::Read(Path("private.ini"), error));
  EXPECT_EQ(error, Path("private.ini") + ": Permission denied");
}

// A plate the file leaves out takes its place in the default row; a plate the file names but
// that was not detected is pointed out with its section's line.
TEST_F(LabLayoutTest, WarnsOfUnnamedAndUndetectedPlates) {
  std::string error;
  const auto layout =
      ReadText("[" + kFirst + "]\nx_mm = 5\ny_mm = 6\n\n[TA000000P000000]\nx_mm = 1\ny_mm = 2\n",
               error);
  ASSERT_TRUE(layout) << error;
  std::vector<std::string> warnings;
  const auto placements = layout->Place({kFirst, kSecond}, {kLongPlate, kShortPlate}, warnings);
  ASSERT_EQ(placements.size(), 2u);
  ExpectPlacement(placements[0], {5, 6, 0, 0});
  ExpectPlacement(placements[1], {850, 0, 0, 0});
  const std::vector<std::string> expected{
      "plate " + kSecond + " is not in the layout " + Path("lab.ini") +
          ": placed at x_mm = 850, y_mm = 0",
      Path("lab.ini") + ":5: plate TA000000P000000 was not detected; its place is not used"};
  EXPECT_EQ(warnings, expected);
}

// Centres in a row along x, each plate half its own length and a gap from its neighbour.
TEST(LabLayout, DefaultPlacementsStandInARow) {
  const auto placements = DefaultPlacements({kShortPlate, kLongPlate, kShortPlate});
  ASSERT_EQ(placements.size(), 3u);
  ExpectPlacement(placements[0], {0, 0, 0, 0});
  ExpectPlacement(placements[1], {300 + kDefaultGapMm + 450, 0, 0, 0});
  ExpectPlacement(placements[2], {850 + 450 + kDefaultGapMm + 300, 0, 0, 0});
}

TEST_F(LabLayoutTest, WrittenTextReadsBackExactly) {
  const std::vector<std::string> plates{kFirst, kSecond};
  const std::vector<LabPlacement> placements{{0.1, 1.0 / 3, -123.456789e-3, 33},
                                             {1e-7, -700, 2.0 / 3e5, -90.000000000001}};
  const std::string text = LayoutText(plates, placements);
  EXPECT_EQ(text.rfind("; ", 0), 0u);
  EXPECT_NE(text.find("[" + kFirst + "]\nx_mm = 0.1\ny_mm = 0.3333333333333333\n"),
            std::string::npos);
  std::string error;
  const auto layout = ReadText(text, error);
  ASSERT_TRUE(layout) << error;
  std::vector<std::string> warnings;
  const auto readBack = layout->Place(plates, {kShortPlate, kShortPlate}, warnings);
  EXPECT_TRUE(warnings.empty());
  ASSERT_EQ(readBack.size(), 2u);
  ExpectPlacement(readBack[0], placements[0]);
  ExpectPlacement(readBack[1], placements[1]);
}

}  // namespace
}  // namespace torva::host::analysis
