// The capture setup: what a device sets during PrepareCapture, and every call refused once the
// call has returned.

#include "host/capture_setup.h"

#include <gtest/gtest.h>

#include "host/host_services.h"
#include "host_fixture.h"

namespace torva::host::test {
namespace {

class CaptureSetupTest : public HostWithDefinitions {
 protected:
  void SetUp() override {
    HostWithDefinitions::SetUp();
    ASSERT_EQ(InstantiatePlate(plate, "A1P1"), "");
  }
  DeviceInstance& Instance() { return *instantiator.Find("A1P1"); }

  FakeDevice plate;
};

// Sets up a capture as a plate in hardware-trigger mode does at 1000 samples per second.
bool PrepareAsAPlate(SDD::ICaptureSetup& setup, std::vector<std::string>& texts) {
  SDD::HostResult* result = nullptr;
  setup.SetSamplesPerBlock(&result, 16);
  texts.push_back(TakeResult(result));
  const std::uint64_t ticks = HostServices::kClockRate / 1000;
  setup.SetTicksPerSample(&result, ticks);
  texts.push_back(TakeResult(result));
  setup.SetCaptureOption(2);
  setup.ConfigureSyncInput(&result, "Sync Port", 1, static_cast<std::uint32_t>(ticks * 1.5), 0, 0,
                           1);
  texts.push_back(TakeResult(result));
  return true;
}

TEST_F(CaptureSetupTest, RecordsWhatTheDeviceSetsDuringPrepareCapture) {
  std::vector<std::string> texts;
  plate.onPrepare = [&](SDD::CaptureHandle, SDD::ICaptureSetup& setup) {
    return PrepareAsAPlate(setup, texts);
  };
  const CaptureOutcome outcome = Instance().PrepareCapture(reinterpret_cast<void*>(1));
  EXPECT_TRUE(outcome.accepted);
  EXPECT_EQ(texts, (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(outcome.settings.samplesPerBlock, 16U);
  EXPECT_EQ(outcome.settings.ticksPerSample, 36000U);
  EXPECT_EQ(outcome.settings.captureOption, 2);
  EXPECT_EQ(outcome.settings.syncInput, (SyncInputSetting{"Sync Port", 1, 54000, 0, 0, 1}));
  EXPECT_EQ(outcome.settings.lateCalls, 0U);

  // A device that declines the capture is reported as declining.
  plate.onPrepare = nullptr;
  EXPECT_FALSE(Instance().PrepareCapture(reinterpret_cast<void*>(2)).accepted);
}

TEST_F(CaptureSetupTest, ValuesNoCaptureCanUseAreRefused) {
  std::vector<std::string> texts;
  plate.onPrepare = [&](SDD::CaptureHandle, SDD::ICaptureSetup& setup) {
    SDD::HostResult* result = nullptr;
    setup.SetTicksPerSample(&result, 0);
    texts.push_back(TakeResult(result));
    setup.SetSamplesPerBlock(&result, 0);
    texts.push_back(TakeResult(result));
    setup.ConfigureSyncInput(&result, "Sync port", 1, 54000, 0, 0, 1);
    texts.push_back(TakeResult(result));
    setup.ConfigureSyncInput(&result, nullptr, 1, 54000, 0, 0, 1);
    texts.push_back(TakeResult(result));
    return true;
  };
  const CaptureOutcome outcome = Instance().PrepareCapture(reinterpret_cast<void*>(1));
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                "ticks per sample must be at least 1", "samples per block must be at least 1",
                "unknown sync input \"Sync port\"", "unknown sync input \"\""}));
  EXPECT_FALSE(outcome.settings.ticksPerSample.has_value());
  EXPECT_FALSE(outcome.settings.samplesPerBlock.has_value());
  EXPECT_FALSE(outcome.settings.syncInput.has_value());
}

TEST_F(CaptureSetupTest, ClosedOncePrepareCaptureHasReturned) {
  std::vector<std::string> texts;
  plate.onPrepare = [&](SDD::CaptureHandle, SDD::ICaptureSetup& setup) {
    return PrepareAsAPlate(setup, texts);
  };
  Instance().PrepareCapture(reinterpret_cast<void*>(1));
  SDD::ICaptureSetup* kept = plate.keptSetup;
  ASSERT_NE(kept, nullptr);

  const char* closed = "the capture setup is closed: PrepareCapture has returned";
  SDD::HostResult* result = nullptr;
  kept->SetTicksPerSample(&result, 1);
  EXPECT_EQ(TakeResult(result), closed);
  kept->SetSamplesPerBlock(&result, 1);
  EXPECT_EQ(TakeResult(result), closed);
  kept->ConfigureSyncInput(&result, "Sync Port", 0, 1, 0, 0, 0);
  EXPECT_EQ(TakeResult(result), closed);
  kept->SetCaptureOption(5);

  const CaptureSettings settings = static_cast<CaptureSetup*>(kept)->Settings();
  EXPECT_EQ(settings.lateCalls, 4U);
  EXPECT_EQ(settings.ticksPerSample, 36000U);
  EXPECT_EQ(settings.samplesPerBlock, 16U);
  EXPECT_EQ(settings.captureOption, 2);
  EXPECT_EQ(settings.syncInput, (SyncInputSetting{"Sync Port", 1, 54000, 0, 0, 1}));

  // The next capture has a setup of its own; the old one stays closed.
  plate.onPrepare = [&](SDD::CaptureHandle, SDD::ICaptureSetup& setup) {
    EXPECT_NE(&setup, kept);
    return PrepareAsAPlate(setup, texts);
  };
  EXPECT_TRUE(Instance().PrepareCapture(reinterpret_cast<void*>(2)).accepted);
  kept->SetSamplesPerBlock(&result, 16);
  EXPECT_EQ(TakeResult(result), closed);
}

}  // namespace
}  // namespace torva::host::test
