// The force-plate device against a recording host: what it publishes, how it prepares a capture,
// how it numbers and pushes blocks, and what the host's blink action does.

#include "plugin/devices/helix_device.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "host/host_result.h"
#include "plugin/devices/model_choice.h"
#include "plugin/devices/shared_config_device.h"
#include "tests/plugin/devices/allocation_probe.h"
#include "tests/plugin/devices/recording_host.h"
#include "host/host_services.h"
#include "tests/support/fake_sleep_clock.h"
#include "tests/support/wait_until.h"

namespace Torva {
namespace {

using ::testing::ElementsAre;

VTorvaDriverService::VDeviceInfo Info() {
  VTorvaDriverService::VDeviceInfo info;
  info.amplifierModel = "TA-6";
  info.amplifierSerial = "TA601201";
  info.platformModel = "TP6040";
  info.platformSerial = "P048311";
  info.firmwareVersion = "3.2.14";
  info.xyzOffsets = {1.0f, -2.0f, -1.5f};  // inches
  info.deviceIndex = 1;
  return info;
}

// A format-1 frame of two plates whose counters start at `counter`, with 600 N on each.
std::vector<float> Frame(float counter) {
  std::vector<float> frame(16 * 2 * 8, 0.0f);
  for (int row = 0; row < 16; ++row)
    for (int plate = 0; plate < 2; ++plate) {
      frame[static_cast<std::size_t>((row * 2 + plate) * 8)] = counter + static_cast<float>(row);
      frame[static_cast<std::size_t>((row * 2 + plate) * 8 + 3)] = 600.0f;
    }
  return frame;
}

// A host clock so fast that 1.5 sample periods do not fit the sync time-out's 32 bits.
class FastClockServices final : public SabloDigitalDevice::IHostServices {
 public:
  static constexpr std::uint64_t kClockRate = std::uint64_t{1} << 42;
  void Log(const char*, int) override {}
  std::uint64_t ClockRate() override { return kClockRate; }
  void Reserved2() override {}
  double CurrentTime() override { return 0.0; }
};

class HelixDevice : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(torva::host::CountedResult::Alive(), resultsBefore_); }
  long resultsBefore_ = torva::host::CountedResult::Alive();
  torva::testing::FakeSleepClock clock_;
  torva::host::HostServices services_;
  RecordingHost host_;
  RecordingSetup setup_;
};

TEST_F(HelixDevice, PublishesItsIdentityAndOriginInMetresThenConnects) {
  VTorvaHelixDevice device(&services_, Info(), PlateDefinitionForChoice(PlateChoice::kGeneric), 1000, nullptr);
  EXPECT_EQ(device.Name(), "TA601201P048311");
  EXPECT_TRUE(services_.Logged("Instantiating device 1: TA-6 TA601201 TP6040 P048311", 1));
  device.Attach(&host_);
  EXPECT_THAT(host_.sets, ElementsAre("AmplifierSerial", "AmplifierModel", "PlatformModel",
                                      "PlatformSerial", "FirmwareVersion", "ParameterA",
                                      "ParameterB", "ParameterAZ0", "Connected"));
  EXPECT_THAT(host_.gets, ElementsAre("Connected"));
  // a = -x, b = y, az0 = the reported z, each in metres (single-precision inches).
  EXPECT_DOUBLE_EQ(host_.doubles["ParameterA"], -static_cast<double>(1.0f * 0.0254f));
  EXPECT_DOUBLE_EQ(host_.doubles["ParameterB"], static_cast<double>(-2.0f * 0.0254f));
  EXPECT_DOUBLE_EQ(host_.doubles["ParameterAZ0"], static_cast<double>(-1.5f * 0.0254f));
  EXPECT_TRUE(host_.bools["Connected"]);
  std::int32_t state = -1;
  bool needsPrepare = true;
  device.GetStatus(&state, &needsPrepare);
  EXPECT_EQ(state, 1);
  EXPECT_FALSE(needsPrepare);
}

TEST_F(HelixDevice, PreparesACaptureOnlyWhenConnectedAndWithARate) {
  VTorvaHelixDevice device(&services_, Info(), PlateDefinitionForChoice(PlateChoice::kGeneric), 1000, nullptr);
  EXPECT_FALSE(device.PrepareCapture(nullptr, &setup_));  // not attached, not connected
  device.Attach(&host_);
  device.SetSyncMode(1);
  ASSERT_TRUE(device.PrepareCapture(nullptr, &setup_));
  EXPECT_EQ(setup_.samples, 16u);
  EXPECT_EQ(setup_.ticks, torva::host::HostServices::kClockRate / 1000);
  EXPECT_EQ(setup_.option, 2);
  EXPECT_EQ(setup_.syncInput, "Sync Port");
  EXPECT_EQ(setup_.timeout, 54000u);  // 36000 ticks x 1.5
  device.SetRate(0);
  EXPECT_FALSE(device.PrepareCapture(nullptr, &setup_));
}

TEST_F(HelixDevice, ASyncTimeOutBeyond32BitsIsTheLongestThereIs) {
  FastClockServices fastClock;
  VTorvaHelixDevice device(&fastClock, Info(), PlateDefinitionForChoice(PlateChoice::kGeneric), 1000, nullptr);
  device.Attach(&host_);
  device.SetSyncMode(1);
  ASSERT_TRUE(device.PrepareCapture(nullptr, &setup_));
  EXPECT_EQ(setup_.ticks, FastClockServices::kClockRate / 1000);  // x 1.5 is about 6.6e9
  EXPECT_EQ(setup_.timeout, std::numeric_limits<std::uint32_t>::max());
}

TEST_F(HelixDevice, FramesCountFromTheStartCounterAndARestartAdds2To24) {
  VTorvaHelixDevice device(&services_, Info(), PlateDefinitionForChoice(PlateChoice::kGeneric), 1000, nullptr);
  device.Attach(&host_);
  ASSERT_TRUE(device.PrepareCapture(nullptr, &setup_));
  device.SetStartCounter(32);
  // A run whose first block has counter 0 is no wrap.
  for (const float counter : {0.0f, 16.0f, 32.0f, 48.0f}) device.ProcessBlock(Frame(counter).data(), 2);
  // The counter starts again: every later frame is 2^24 further on.
  device.ProcessBlock(Frame(1.0f).data(), 2);
  EXPECT_THAT(host_.frames, ElementsAre(-32, -16, 0, 16, (1 << 24) + 1 - 32));
  // A new capture starts the wrap count afresh.
  ASSERT_TRUE(device.PrepareCapture(nullptr, &setup_));
  device.ProcessBlock(Frame(64.0f).data(), 2);
  EXPECT_EQ(host_.frames.back(), 64 - 32);
}

TEST_F(HelixDevice, TheBlinkActionBlinksOncePerChangeAndNeverAPlateThatIsGone) {
  VTorvaDriverService service(&services_);
  VTorvaHelixDevice device(&services_, Info(), PlateDefinitionForChoice(PlateChoice::kGeneric), 1000, &service);
  device.Attach(&host_);
  host_.changed = {ParameterId{5, 0}, ParameterId{6, 0}, ParameterId{5, 0}};
  device.OnParametersChanged();
  ASSERT_TRUE(torva::testing::WaitUntil([&] {
    const auto lines = services_.Lines();
    return std::count_if(lines.begin(), lines.end(),
                         [](const auto& line) { return line.text == "::fmSetBlink()"; }) == 2;
  }));
  EXPECT_TRUE(services_.Logged("::fmDLLSelectDeviceIndex(1)", 0));
  // A host that writes a larger count than it reported is read no further than the array.
  host_.changed = {ParameterId{5, 0}};
  host_.writtenCount = 40;
  device.SetConnected(false);
  device.OnParametersChanged();
  EXPECT_TRUE(services_.Logged("Device TA601201P048311 is not connected: blink ignored", 2));
}

// Both devices size the list of changed parameters by the host's count: one the memory cannot hold
// is an error in the log, and nothing leaves the host's call.
TEST_F(HelixDevice, AChangeCountTooLargeToHoldIsLoggedAsAnErrorAndNotThrown) {
  VTorvaHelixDevice plate(&services_, Info(), PlateDefinitionForChoice(PlateChoice::kGeneric), 1000, nullptr);
  VSharedConfigDevice shared(&services_, nullptr);
  plate.Attach(&host_);
  shared.Attach(&host_);
  host_.reportedCount = 0xFFFFFFFF;
  {
    const SabloDigitalDevice::AllocationProbe probe(1 << 20);
    EXPECT_NO_THROW(plate.OnParametersChanged());
    EXPECT_NO_THROW(shared.OnParametersChanged());
  }
  EXPECT_TRUE(services_.Logged("Plate device OnParametersChanged failed: std::bad_alloc", 3));
  EXPECT_TRUE(services_.Logged(
      "Shared configuration device OnParametersChanged failed: std::bad_alloc", 3));
}

}  // namespace
}  // namespace Torva
