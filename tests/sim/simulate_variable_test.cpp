// TORVA_SIMULATE values and the emulated bus they set up.

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "sim/emulated_bus.h"
#include "sim/parameter_memory.h"
#include "sim/simulate_variable.h"

namespace torva::sim {
namespace {

TEST(SimulateVariable, ACountGivesThatManyProduct100Amplifiers) {
  const auto devices = ParseSimulateVariable("3");
  ASSERT_TRUE(devices);
  ASSERT_EQ(devices->size(), 3u);
  for (const auto& device : *devices) EXPECT_EQ(device.productType, 100);
  EXPECT_TRUE(ParseSimulateVariable("0"));
  EXPECT_TRUE(ParseSimulateVariable("0")->empty());
  EXPECT_EQ(ParseSimulateVariable(" 25 ")->size(), 25u);
}

TEST(SimulateVariable, AListGivesOneAmplifierPerProductType) {
  const auto devices = ParseSimulateVariable("100, 300,400");
  ASSERT_TRUE(devices);
  ASSERT_EQ(devices->size(), 3u);
  EXPECT_EQ((*devices)[0].productType, 100);
  EXPECT_EQ((*devices)[1].productType, 300);
  EXPECT_EQ((*devices)[2].productType, 400);
  // A single number above 25 is a product type, not a count.
  const auto one = ParseSimulateVariable("300");
  ASSERT_TRUE(one);
  ASSERT_EQ(one->size(), 1u);
  EXPECT_EQ((*one)[0].productType, 300);
}

TEST(SimulateVariable, MalformedValuesAreRefused) {
  for (const char* bad : {"", "abc", "3x", "-1", "26,", ",", "100,,300", "100,0", "100,-3",
                          "99999", "1000000"}) {
    EXPECT_FALSE(ParseSimulateVariable(bad)) << '"' << bad << '"';
  }
  std::string many = "100";
  for (int i = 0; i < 25; ++i) many += ",100";
  EXPECT_FALSE(ParseSimulateVariable(many));  // 26 amplifiers
}

TEST(SimulateVariable, EveryAmplifierIsDistinctAndPlausible) {
  const auto devices = ParseSimulateVariable("100,300,400,100,300");
  ASSERT_TRUE(devices);
  std::set<std::string> amplifierSerials;
  std::set<std::string> platformSerials;
  for (const auto& device : *devices) {
    amplifierSerials.insert(device.amplifierSerial);
    platformSerials.insert(device.platformSerial);
    const AmplifierParameterBlock memory = BuildParameterMemory(device);
    EXPECT_EQ(memory.productType, device.productType);
    EXPECT_GT(std::atof(memory.platformLength), 15.0);
    EXPECT_GT(std::atof(memory.platformWidth), 10.0);
    const bool smart = device.productType == 300 || device.productType == 400;
    EXPECT_EQ(memory.smartPlateStatus, smart ? 1 : 0);
  }
  EXPECT_EQ(amplifierSerials.size(), devices->size());
  EXPECT_EQ(platformSerials.size(), devices->size());
}

class EmulatedBusTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv(kSimulateVariable);
    EmulatedBus::Instance().Reset();
  }
};

TEST_F(EmulatedBusTest, InstallReplacesTheDevicesAndResetFollowsTheEnvironment) {
  EmulatedBus& bus = EmulatedBus::Instance();
  const auto first = bus.Install({DescribeAmplifier(0, 100), DescribeAmplifier(1, 300)});
  EXPECT_TRUE(bus.IsActive());
  EXPECT_EQ(bus.PresentDevices().size(), 2u);
  first[0]->Unplug();
  EXPECT_EQ(bus.PresentDevices().size(), 1u);
  EXPECT_EQ(bus.Devices().size(), 2u);

  const auto second = bus.Install({DescribeAmplifier(0, 400)});
  EXPECT_FALSE(first[1]->Present());  // replaced devices are unplugged
  EXPECT_EQ(bus.PresentDevices(), second);

  setenv(kSimulateVariable, "100,400", 1);
  bus.Reset();
  EXPECT_TRUE(bus.IsActive());
  ASSERT_EQ(bus.PresentDevices().size(), 2u);
  EXPECT_EQ(bus.PresentDevices()[1]->Memory().productType, 400);
  EXPECT_TRUE(bus.EnvironmentProblem().empty());

  setenv(kSimulateVariable, "lots", 1);
  bus.Reset();
  EXPECT_TRUE(bus.IsActive());  // asked for emulation: no silent fall-back to the real bus
  EXPECT_TRUE(bus.PresentDevices().empty());
  EXPECT_NE(bus.EnvironmentProblem().find("lots"), std::string::npos);

  unsetenv(kSimulateVariable);
  bus.Reset();
  EXPECT_FALSE(bus.IsActive());
  EXPECT_TRUE(bus.PresentDevices().empty());
}

}  // namespace
}  // namespace torva::sim
