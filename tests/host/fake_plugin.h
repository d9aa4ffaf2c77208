#pragma once
// A plugin in miniature for driving the host: two definitions built with the value classes (a
// force plate and the shared configuration, with their real texts, values and identifiers) and a
// device that records what the host does to it and answers as the plugin's devices do.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/host_result.h"
#include "plugin/devices/parameter_value.h"
#include "plugin/frame/host_interface.h"

namespace torva::host::test {

namespace SDD = SabloDigitalDevice;

// The result's text ("" for success), released and cleared as a plugin does.
std::string TakeResult(SDD::HostResult*& result);

// Fails the test when a result handed out during it is still alive at its end.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { aliveBefore_ = CountedResult::Alive(); }
  void TearDown() override { EXPECT_EQ(CountedResult::Alive(), aliveBefore_); }

 private:
  long aliveBefore_ = 0;
};

// Declares a force plate of model "TypeA": the "Connected" status, outputs "Force" and "CoP" with
// their components, the X dimension, the "a" origin offset, the amplifier serial, the blink action
// when asked to, and the sync input "Sync Port".
class FakePlateDefinition final : public SDD::IDeviceDefinition {
 public:
  void Declare(SDD::IDefinitionRegistry* registry, bool includeBlink) override;
  // Texts of the results the registry handed back, in order.
  std::vector<std::string> refusals;
};

// Declares the shared-configuration device with an enumeration, a range-checked double and an
// action with its third attribute set.
class FakeSharedConfigDefinition final : public SDD::IDeviceDefinition {
 public:
  void Declare(SDD::IDefinitionRegistry* registry, bool includeBlink) override;
  std::vector<std::string> refusals;
};

class FakeDevice final : public SDD::IDevice {
 public:
  void Attach(SDD::IDeviceHost* host) override;
  // As the plugin's devices do: asks for the count, makes room for it, reads the identifiers.
  void OnParametersChanged() override;
  bool PrepareCapture(SDD::CaptureHandle handle, SDD::ICaptureSetup* setup) override;
  void IgnoredNotification() override {}
  void SetStartTime(double /*time*/) override {}
  void OnCaptureStopped() override {}
  void GetStatus(std::int32_t* state, bool* needsPrepare) override;

  // Run inside Attach, after the host is stored.
  std::function<void(SDD::IDeviceHost&)> onAttach;
  // Run by PrepareCapture; returns its result. Without one PrepareCapture returns false.
  std::function<bool(SDD::CaptureHandle, SDD::ICaptureSetup&)> onPrepare;

  SDD::IDeviceHost* host = nullptr;
  int attachCount = 0;
  std::thread::id attachThread;
  SDD::ICaptureSetup* keptSetup = nullptr;  // the last setup, kept against the rules
  std::uint32_t changeKey = 1;
  std::vector<SDD::ParameterId> changedIds;  // every identifier read, in order
  std::int32_t state = 2;
  bool needsPrepare = true;
};

}  // namespace torva::host::test
