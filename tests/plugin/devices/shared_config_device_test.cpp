// The shared-configuration device as the hub: detection results into plate devices and host
// instances, the rate and threshold reconciled at PrepareCapture, frame 0 fixed per capture and
// every block handed to every plate.

#include "plugin/devices/shared_config_device.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "host/host_services.h"
#include "tests/plugin/devices/allocation_probe.h"
#include "tests/plugin/devices/recording_host.h"
#include "tests/support/fake_sleep_clock.h"

namespace Torva {
namespace {

using ::testing::ElementsAre;
using Record = VTorvaDriverService::VDeviceInfo;

Record Plate(int index, int productType) {
  Record record;
  record.productType = productType;
  record.amplifierModel = "TA-6";
  record.amplifierSerial = "TA00" + std::to_string(index);
  record.platformModel = "TP6040";
  record.platformSerial = "P00" + std::to_string(index);
  record.deviceIndex = index;
  return record;
}

// A format-1 frame of `plates` records whose counters start at `counter`; the auxiliary word of
// `triggerRecord` carries `level` from row `triggerRow` on.
std::vector<float> Frame(int plates, float counter, int triggerRecord = -1, int triggerRow = 0,
                         float level = 0.0f) {
  std::vector<float> frame(static_cast<std::size_t>(16 * plates * 8), 0.0f);
  for (int row = 0; row < 16; ++row)
    for (int p = 0; p < plates; ++p) {
      float* record = frame.data() + (row * plates + p) * 8;
      record[0] = counter + static_cast<float>(row);
      record[3] = 700.0f;
      record[7] = p == triggerRecord && row >= triggerRow ? level : -1.0f;
    }
  return frame;
}

class SharedConfig : public ::testing::Test {
 protected:
  SharedConfig() : device_(&services_, nullptr) { device_.SetInstantiator(&instantiator_); }
  void Detect(const std::vector<Record>& records, int status = 1) {
    VTorvaDriverService::VDllInitInfo info;
    info.status = status;
    info.message = "ok";
    device_.OnDetected(info, records);
  }
  std::vector<std::string> Warnings() const {
    std::vector<std::string> lines;
    for (const auto& line : services_.Lines())
      if (line.severity == 2) lines.push_back(line.text);
    return lines;
  }
  // Prepares a capture and reports the start running, as the driver service would.
  bool PrepareAndRun() {
    const bool prepared = device_.PrepareCapture(nullptr, nullptr);
    device_.OnRunningChanged(true);
    return prepared;
  }

  torva::testing::FakeSleepClock clock_;
  torva::host::HostServices services_;
  RecordingHost host_;
  RecordingInstantiator instantiator_{&host_};
  VSharedConfigDevice device_;
};

TEST_F(SharedConfig, DetectionsKeepOneDevicePerPlateAndSkipUnsupportedTypes) {
  device_.Attach(&host_);  // no driver service: nothing is posted
  instantiator_.refuse["TA000P000"] = 1;
  Detect({Plate(0, 100), Plate(1, 0), Plate(2, 250), Plate(3, 300), Plate(3, 300)});
  EXPECT_THAT(Warnings(),
              ElementsAre("Host returned \"name in use\" when trying to instantiate device TP6040",
                          "Detected unsupported device type 0, skipping...)",
                          "Detected unsupported device type 250, skipping...)"));
  // Two records with one key make two devices; both are instantiated and both are kept.
  EXPECT_THAT(instantiator_.instances, ElementsAre("TA000P000", "TA003P003", "TA003P003"));
  auto first = device_.Devices();
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[1]->DeviceIndex(), 3);
  EXPECT_TRUE(services_.Logged("Detected 5 Torva digital devices", 1));

  // The same hardware again: the same devices, reconnected; a plate that has gone stays, unplugged.
  Detect({Plate(3, 300)});
  const auto second = device_.Devices();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0], first[2]);  // the later of the two records with one key
  EXPECT_TRUE(second[0]->Connected());
  EXPECT_FALSE(first[0]->Connected());
  EXPECT_EQ(instantiator_.instances.size(), 3u);
  EXPECT_GE(host_.notifications, 2);
}

// A plate device the host has an instance of lives as long as the shared-configuration device,
// whatever later detections find, duplicate keys included.
TEST_F(SharedConfig, EveryPlateDeviceLivesUntilTheSharedDeviceIsDestroyed) {
  std::vector<std::weak_ptr<VTorvaHelixDevice>> made;
  {
    VSharedConfigDevice device(&services_, nullptr);
    device.SetInstantiator(&instantiator_);
    device.Attach(&host_);
    device.OnDetected({1, 1, "ok"}, {Plate(0, 100), Plate(1, 100), Plate(1, 100)});
    for (const auto& plate : device.Devices()) made.push_back(plate);
    device.OnDetected({1, 1, "ok"}, {Plate(1, 100)});
    device.OnDetected({1, 1, "ok"}, {});
    for (const auto& plate : made) EXPECT_FALSE(plate.expired());
  }
  for (const auto& plate : made) EXPECT_TRUE(plate.expired());
}

TEST_F(SharedConfig, ADetectionBeforeTheInstantiatorInstantiatesAtTheNextOne) {
  VSharedConfigDevice device(&services_, nullptr);
  device.Attach(&host_);
  Detect({});  // on the fixture's device: nothing
  device.OnDetected({1, 1, "ok"}, {Plate(0, 100)});
  EXPECT_EQ(instantiator_.instances.size(), 0u);
  device.SetInstantiator(&instantiator_);
  device.OnDetected({1, 1, "ok"}, {Plate(0, 100)});
  EXPECT_THAT(instantiator_.instances, ElementsAre("TA000P000"));
}

TEST_F(SharedConfig, PrepareCaptureReconcilesTheRateAndKeepsTheThresholdInItsRange) {
  device_.Attach(&host_);
  Detect({Plate(0, 300)});
  const struct {
    std::string rate;
    double threshold;
    std::uint32_t appliedRate;
    std::vector<std::string> warnings;
  } rows[] = {
      {"2000", 20.0, 1200, {"Sample rate 2000 adjusted to 1200 to match devices"}},
      {"1100", 20.0, 1000, {"Sample rate 1100 adjusted to 1000 to match devices"}},
      {"-5", 20.0, 1000,
       {"Sample rate \"-5\" is not a rate (bad lexical cast: source type value could not be "
        "interpreted as target); 1000 applies"}},
      {"600", std::numeric_limits<double>::quiet_NaN(), 600,
       {"Fz threshold nan adjusted to 20.000000"}},
      {"600", -3.0, 600, {"Fz threshold -3.000000 adjusted to 0.000000"}},
      {"600", 75.0, 600, {"Fz threshold 75.000000 adjusted to 50.000000"}},
  };
  for (const auto& row : rows) {
    services_.ClearLog();
    host_.texts["SampleRate"] = row.rate;
    host_.numbers["DataThreshold"] = row.threshold;
    ASSERT_TRUE(device_.PrepareCapture(nullptr, nullptr)) << row.rate;
    EXPECT_EQ(Warnings(), row.warnings) << row.rate;
    std::int32_t state = -1;
    bool needsPrepare = true;
    device_.GetStatus(&state, &needsPrepare);
    EXPECT_EQ(state, 0);
    EXPECT_FALSE(needsPrepare);
  }
  EXPECT_EQ(clock_.sleptMilliseconds.load(), 500 * 6);
}

TEST_F(SharedConfig, FrameZeroIsFixedOnlyAfterTheStartRunsAndTriggersMatchTheirOwnPlate) {
  device_.Attach(&host_);
  // An unsupported record first: the type-400 plate's trigger level (0) belongs to record 1 only.
  Detect({Plate(0, 250), Plate(1, 400), Plate(2, 100)});
  host_.texts["SyncMode"] = "Hardware trigger";
  ASSERT_TRUE(device_.PrepareCapture(nullptr, nullptr));
  // A block of the run being stopped, even one carrying the trigger, is not frame 0.
  device_.OnData(Frame(3, 500.0f, 1, 0, 0.0f).data());
  EXPECT_TRUE(host_.frames.empty());
  device_.OnRunningChanged(true);
  // No trigger yet (record 0's zero auxiliary word is not a trigger: it has no level).
  auto quiet = Frame(3, 1.0f);
  for (int row = 0; row < 16; ++row) quiet[static_cast<std::size_t>(row * 3 * 8 + 7)] = 0.0f;
  device_.OnData(quiet.data());
  EXPECT_TRUE(host_.frames.empty());
  // The trigger on plate 1 from row 5: the counter there is frame 0 for both plates.
  device_.OnData(Frame(3, 17.0f, 1, 5, 0.0f).data());
  device_.OnData(Frame(3, 33.0f).data());
  EXPECT_THAT(host_.frames, ElementsAre(-5, -5, 11, 11));
  device_.OnData(nullptr);
  EXPECT_THAT(Warnings(), ::testing::Contains("Transfer data called with null pointer"));
}

TEST_F(SharedConfig, StateFollowsTheRunningReportsAndAStopWhileAStartIsPendingKeepsIt) {
  device_.Attach(&host_);
  Detect({Plate(0, 100)});
  const auto status = [&] {
    std::int32_t state = -1;
    bool needsPrepare = false;
    device_.GetStatus(&state, &needsPrepare);
    return std::make_pair(state, needsPrepare);
  };
  EXPECT_EQ(status(), std::make_pair(2, true));
  ASSERT_TRUE(device_.PrepareCapture(nullptr, nullptr));
  EXPECT_EQ(status(), std::make_pair(0, false));
  device_.OnRunningChanged(false);  // the stop before the start
  EXPECT_EQ(status(), std::make_pair(0, false));
  device_.OnRunningChanged(true);
  EXPECT_EQ(status(), std::make_pair(1, false));
  std::int32_t plateState = -1;
  bool platePrepare = true;
  device_.Devices()[0]->GetStatus(&plateState, &platePrepare);
  EXPECT_EQ(plateState, 1);
  device_.OnRunningChanged(false);  // a stop, blink or reset during the capture
  EXPECT_EQ(status(), std::make_pair(2, true));
  device_.OnCaptureStopped();
  EXPECT_EQ(status(), std::make_pair(2, true));
}

TEST_F(SharedConfig, ASoftwareTriggeredCaptureCountsFromTheStartTime) {
  device_.Attach(&host_);
  Detect({Plate(0, 100), Plate(1, 250), Plate(2, 300)});
  ASSERT_TRUE(PrepareAndRun());
  device_.OnData(Frame(3, 1.0f).data());
  EXPECT_TRUE(host_.frames.empty());  // no start time yet
  device_.SetStartTime(services_.CurrentTime());
  device_.OnData(Frame(3, 17.0f).data());
  device_.OnData(Frame(3, 33.0f).data());
  // The plates at records 0 and 2 (record 1 is unsupported) push the same numbers, from about 0.
  ASSERT_EQ(host_.frames.size(), 4u);
  EXPECT_EQ(host_.frames[0], host_.frames[1]);
  EXPECT_EQ(host_.frames[2] - host_.frames[0], 16);
  EXPECT_GE(host_.frames[0], 0);
  EXPECT_LT(host_.frames[0], 16);
}

TEST_F(SharedConfig, HandingABlockToTwentyFivePlatesAllocatesNothing) {
  device_.Attach(&host_);
  std::vector<Record> records;
  for (int i = 0; i < 25; ++i) records.push_back(Plate(i, 100));
  Detect(records);
  ASSERT_TRUE(PrepareAndRun());
  device_.SetStartTime(services_.CurrentTime());
  const auto frame = Frame(25, 1.0f);
  host_.keepFrames = false;
  device_.OnData(frame.data());  // fixes frame 0
  SabloDigitalDevice::AllocationProbe probe;
  for (int block = 0; block < 2000; ++block) device_.OnData(frame.data());
  EXPECT_EQ(probe.Count(), 0u);
  EXPECT_EQ(host_.pushes, 2001 * 25);
}

}  // namespace
}  // namespace Torva
