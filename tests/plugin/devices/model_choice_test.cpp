// The definition a detected plate gets: by model string, by size in inches, or generic.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/devices/model_choice.h"

namespace Torva {
namespace {

struct Row {
  const char* what;
  const char* platformModel;
  const char* lengthInches;
  const char* widthInches;
  int choice;
};

TEST(ModelChoice, ModelStringThenSizeThenGeneric) {
  const std::vector<Row> rows = {
      {"TypeK inside other text, with TypeA's size", "AB-TypeK-2000", "23.62", "15.75", 12},
      {"model strings searched in order, not by position", "TypeC/TypeB", "", "", 4},
      {"TypeA searched before TypeK", "TypeK TypeA", "", "", 1},
      {"empty texts are 19.7 in, near 498 mm", "", "", "", 5},
      {"texts without a number are 19.7 in", "unknown", "n/a", "n/a", 5},
      {"zero is 19.7 in", "", "0", "0.00", 5},
      {"600 x 400 mm", "", "23.62", "15.75", 1},
      {"612.1 mm is not near 600", "", "24.1", "15.75", 0},
      {"length and width not swapped", "", "15.75", "23.62", 0},
      {"508 x 464 mm is TypeM, never TypeL or TypeB", "", "20.00", "18.27", 2},
      {"leading number before a unit, after blanks", "", " 23.62in", "15.75 in", 1},
      {"594.03 mm: 5.97 below 600, more than 1 % of itself", "", "23.387", "15.75", 0},
      {"606.04 mm: 6.04 above 600, less than 1 % of itself", "", "23.86", "15.75", 1},
      {"498 x 498 mm", "", "19.61", "19.61", 5},
      {"600 x 600 mm", "", "23.62", "23.62", 6},
      {"900 x 600 mm", "", "35.43", "23.62", 7},
      {"1200 x 600 mm", "", "47.24", "23.62", 8},
      {"900 x 603 mm is also near 900 x 600, the earlier row", "", "35.43", "23.74", 7},
      {"900 x 607.6 mm: near 603, not near 600", "", "35.43", "23.92", 9},
      {"900 x 900 mm", "", "35.43", "35.43", 10},
      {"1200 x 1200 mm", "", "47.24", "47.24", 11},
      {"711 x 610 mm", "", "27.99", "24.02", 12},
      {"emulated TP6040, 600 x 400 mm", "TP6040", "23.62", "15.75", 1},
      {"emulated TV6050, 600 x 500 mm", "TV6050", "23.62", "19.69", 0},
      {"emulated TV9060, 900 x 600 mm", "TV9060", "35.43", "23.62", 7},
  };
  for (const Row& row : rows) {
    VTorvaDriverService::VDeviceInfo device;
    device.platformModel = row.platformModel;
    device.platformLength = row.lengthInches;
    device.platformWidth = row.widthInches;
    EXPECT_EQ(ChoosePlateModel(device), row.choice) << row.what;
  }
}

TEST(ModelChoice, DefinitionOfEachChoice) {
  struct Definition {
    int choice;
    const char* model;
    double dimensionX, dimensionY;
  };
  const std::vector<Definition> rows = {
      {-1, "Force plate", 0.5, 0.5}, {0, "Force plate", 0.5, 0.5}, {1, "TypeA", 0.4, 0.6},
      {2, "TypeM", 0.464, 0.508},    {3, "TypeL", 0.464, 0.508},   {4, "TypeB", 0.464, 0.508},
      {5, "TypeJ", 0.498, 0.498},    {6, "TypeC", 0.6, 0.6},       {7, "TypeD", 0.6, 0.9},
      {8, "TypeE", 0.6, 1.2},        {9, "TypeF", 0.603, 0.9},     {10, "TypeG", 0.9, 0.9},
      {11, "TypeH", 1.2, 1.2},       {12, "TypeK", 0.61, 0.711},   {13, "Force plate", 0.5, 0.5},
  };
  for (const Definition& row : rows) {
    const VTorvaGenericPlateDefinition& definition = PlateDefinitionForChoice(row.choice);
    EXPECT_EQ(definition.model, row.model) << row.choice;
    EXPECT_EQ(definition.dimensionX, row.dimensionX) << row.choice;
    EXPECT_EQ(definition.dimensionY, row.dimensionY) << row.choice;
    EXPECT_EQ(definition.maker, "Torva") << row.choice;
    EXPECT_EQ(definition.version, "V1.0") << row.choice;
  }
}

}  // namespace
}  // namespace Torva
