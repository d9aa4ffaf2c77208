#pragma once
// Installs emulated amplifiers on the process-wide emulated bus for one test and takes them away
// afterwards, so the USB layer under test talks to the emulator through ChosenKernelDriver()
// (driver/api/kernel_driver_choice.h).

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/emulated_bus.h"

namespace torva::usb::testing {

class EmulatedBusTest : public ::testing::Test {
 protected:
  std::vector<std::shared_ptr<sim::EmulatedAmplifier>> Install(
      const std::vector<sim::AmplifierDescription>& descriptions) {
    return sim::EmulatedBus::Instance().Install(descriptions);
  }
  void TearDown() override { sim::EmulatedBus::Instance().Reset(); }
};

}  // namespace torva::usb::testing
