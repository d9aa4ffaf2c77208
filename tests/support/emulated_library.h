#pragma once
// A test fixture that brings the driver library up on emulated amplifiers described in code, with
// the prescribed pauses replaced by a fake clock, and shuts it down again afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/usb_manager.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_bus.h"
#include "tests/support/fake_sleep_clock.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva::testing {

// Each test has machine settings of its own: the saved setup lives in <scratch>/cfg/ and the
// calibration files in <scratch>/cal/.
class EmulatedLibrary : public ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    std::filesystem::create_directories(ConfigurationDirectory());
    std::filesystem::create_directories(CalibrationDirectory());
    Settings().Write("SOFTWARE\\Torva\\CFG", "Path", ConfigurationDirectory());
    Settings().Write("SOFTWARE\\Torva\\HPS", "Path", CalibrationDirectory());
  }
  void TearDown() override {
    fmDLLShutDown();
    EXPECT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    sim::EmulatedBus::Instance().Reset();
    ScratchDirectory::TearDown();
  }
  std::string ConfigurationDirectory() const { return Path("cfg") + "/"; }
  std::string CalibrationDirectory() const { return Path("cal") + "/"; }

  // Installs the described amplifiers and brings the library up on them.
  void BringUp(const std::vector<sim::AmplifierDescription>& descriptions,
               int expectedInitState = 2) {
    Install(descriptions);
    Initialise(expectedInitState);
  }
  void Install(const std::vector<sim::AmplifierDescription>& descriptions) {
    amplifiers_ = sim::EmulatedBus::Instance().Install(descriptions);
  }
  // Brings the library up on the installed amplifiers and waits for the bring-up to end in the
  // expected state.
  void Initialise(int expectedInitState = 2) {
    ASSERT_EQ(fmDLLInit(), 1);
    ASSERT_TRUE(WaitUntil([] { return fmDLLIsDeviceInitComplete() != 0; }));
    ASSERT_EQ(fmDLLIsDeviceInitComplete(), expectedInitState);
  }
  // `count` amplifiers of one product type, each distinct.
  void BringUp(int count, std::int32_t productType = 100) {
    std::vector<sim::AmplifierDescription> descriptions;
    for (int i = 0; i < count; ++i) descriptions.push_back(sim::DescribeAmplifier(i, productType));
    BringUp(descriptions);
  }

  CThreadManager& Control() { return *CUSBManager::Instance().Control(); }
  sim::EmulatedAmplifier& Amplifier(std::size_t index) { return *amplifiers_.at(index); }

  // Command codes that reached an amplifier, in order.
  std::vector<int> Commands(std::size_t index) { return Amplifier(index).ReceivedCommandCodes(); }

  // Waits until the amplifier's memory satisfies `condition`.
  template <typename Condition>
  bool WaitForMemory(std::size_t index, Condition condition) {
    return WaitUntil([&] { return condition(Amplifier(index).Memory()); });
  }

  FakeSleepClock clock_;
  std::vector<std::shared_ptr<sim::EmulatedAmplifier>> amplifiers_;
};

}  // namespace torva::testing
