// The OpenSim motion file: its header with the row count completed at the end, OpenSim's axes and
// signs for a turned, moved plate, and zeros (never NaN) where a plate is unloaded or missing.

#include "host/analysis/mot_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace torva::host::analysis {
namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
  return fields;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class MotWriterTest : public testing::ScratchDirectory {};

TEST_F(MotWriterTest, GroundReactionsInOpenSimAxesWithTheRowCountCompleted) {
  std::string error;
  auto file = OutputFile::Open(Path("walk.mot"), error);
  ASSERT_TRUE(file) << error;
  // Plate 1 turned a quarter turn and moved; plate 2 never loaded.
  MotWriter writer(*file, "walk.mot", 1000.0, {{700, 200, 0, 90}, {0, 0, 0, 0}});
  // Fx 10, Fy 20, Fz -800 (someone standing), Mz 3 N·m, CoP (0.1, 0.05) m from the centre.
  const PlateSample loaded = {10, 20, -800, 1, 2, 3, 0.1f, 0.05f, 0};
  writer.WriteRow(5, {loaded, PlateSample{}});
  writer.WriteRow(6, {std::nullopt, std::nullopt});
  ASSERT_TRUE(writer.Finish());
  ASSERT_TRUE(file->Keep());

  const auto lines = Lines(ReadFile(Path("walk.mot")));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "walk.mot");
  EXPECT_EQ(lines[1], "version=1");
  EXPECT_EQ(std::stoll(lines[2].substr(lines[2].find('=') + 1)), 2);
  EXPECT_EQ(lines[3], "nColumns=19");
  EXPECT_EQ(lines[4], "inDegrees=yes");
  EXPECT_EQ(lines[5], "endheader");
  const auto header = Fields(lines[6]);
  ASSERT_EQ(header.size(), 19u);
  EXPECT_EQ(header[1], "1_ground_force_vx");
  EXPECT_EQ(header[9], "1_ground_torque_z");
  EXPECT_EQ(header[10], "2_ground_force_vx");

  std::vector<double> row;
  for (const std::string& field : Fields(lines[7])) row.push_back(std::stod(field));
  ASSERT_EQ(row.size(), 19u);
  EXPECT_DOUBLE_EQ(row[0], 0.005);
  // Turned 90°: the plate's x is the lab's y, its y the lab's -x. Applied force in the lab
  // (-20, 10, -800); the reaction (20, -10, 800); in OpenSim's axes (x, z, -y) = (20, 800, 10).
  EXPECT_NEAR(row[1], 20, 1e-4);
  EXPECT_NEAR(row[2], 800, 1e-4);  // vy = -Fz of the CSV
  EXPECT_NEAR(row[3], 10, 1e-4);
  // CoP in the lab: (700 - 50, 200 + 100, 0) mm -> (0.65, 0, -0.3) m in OpenSim's axes.
  EXPECT_NEAR(row[4], 0.65, 1e-6);
  EXPECT_NEAR(row[5], 0.0, 1e-9);
  EXPECT_NEAR(row[6], -0.3, 1e-6);
  // The free moment about the vertical at the CoP: Mz - (Cx Fy - Cy Fx) = 3 - (2 - 0.5) = 1.5;
  // the ground's reaction about OpenSim's Y (up) is -1.5.
  EXPECT_NEAR(row[7], 0, 1e-9);
  EXPECT_NEAR(row[8], -1.5, 1e-5);
  EXPECT_NEAR(row[9], 0, 1e-9);
  // The unloaded plate and the frame without samples: zeros, no NaN, no "-0".
  for (std::size_t column = 10; column < row.size(); ++column) EXPECT_EQ(row[column], 0.0);
  EXPECT_EQ(lines[8].find("nan"), std::string::npos);
  EXPECT_EQ(lines[8].find("-0"), std::string::npos);
  for (const std::string& field : Fields(lines[8])) EXPECT_FALSE(std::isnan(std::stod(field)));
}

}  // namespace
}  // namespace torva::host::analysis
