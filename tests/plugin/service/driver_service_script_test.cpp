// The driver service's call sequences, texts and pauses, against a scripted stand-in for the
// driver library.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <boost/bind/bind.hpp>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "plugin/service/driver_service.h"
#include "plugin/service/plugin_log.h"
#include "plugin/devices/shared_config_device.h"
#include "tests/plugin/devices/recording_host.h"
#include "tests/plugin/service/scripted_driver.h"
#include "tests/support/scaled_sleep_clock.h"
#include "tests/support/wait_until.h"

namespace torva {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using std::chrono::milliseconds;
using testing::DriverScript;
using testing::ScriptedAmplifier;
using testing::ScriptedDriver;
using testing::WaitUntil;
using Service = Torva::VTorvaDriverService;
using Torva::kSeverityError;
using Torva::kSeverityTrace;
using Torva::kSeverityWarning;

ScriptedAmplifier Amplifier(int index, int productType = 100) {
  ScriptedAmplifier amplifier;
  amplifier.productType = productType;
  amplifier.amplifierSerial = "TA000" + std::to_string(index);
  amplifier.platformSerial = "P000" + std::to_string(index);
  return amplifier;
}

class ScriptedService : public ::testing::Test {
 protected:
  void SetUp() override { Script({}); }
  void TearDown() override { service_.reset(); }
  void Script(DriverScript script) { ScriptedDriver::Instance().Reset(std::move(script)); }
  void Start() {
    service_ = std::make_unique<Service>(&services_);
    service_->SetRunningCallback([this](bool running) {
      std::lock_guard<std::mutex> lock(mutex_);
      running_.push_back(running);
    });
  }
  bool Detect() {
    std::atomic<bool> done{false};
    service_->BeginDetection([&](Service::VDllInitInfo info, std::vector<Service::VDeviceInfo> devices) {
      info_ = info;
      devices_ = devices;
      done = true;
    });
    return WaitUntil([&] { return done.load(); });
  }
  // Waits until every command posted so far has run.
  bool Settle() {
    std::atomic<bool> done{false};
    service_->PostCommand([&] { done = true; });
    return WaitUntil([&] { return done.load(); });
  }
  std::vector<std::string> Lines(int severity) const {
    std::vector<std::string> lines;
    for (const host::LogLine& line : services_.Lines())
      if (line.severity == severity) lines.push_back(line.text);
    return lines;
  }
  std::vector<std::string> Calls() const { return ScriptedDriver::Instance().Calls(); }
  int Calls(const std::string& call) const { return ScriptedDriver::Instance().Count(call); }
  std::vector<bool> Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }

  testing::ScaledSleepClock clock_{1000};
  host::HostServices services_;
  std::unique_ptr<Service> service_;
  Service::VDllInitInfo info_;
  std::vector<Service::VDeviceInfo> devices_;
  std::mutex mutex_;
  std::vector<bool> running_;
};

TEST_F(ScriptedService, ATimedOutInitialisationPolls51TimesReportsItAndStillShutsTheDriverDown) {
  DriverScript script;
  script.pollsBeforeInit = -1;
  script.amplifiers = {Amplifier(0)};
  Script(script);
  Start();
  ASSERT_TRUE(Detect());
  EXPECT_EQ(Calls("fmDLLIsDeviceInitComplete()"), 51);
  EXPECT_EQ(info_.status, 2);
  EXPECT_EQ(info_.message,
            "Torva device initialization timed out, consider restarting the application.");
  EXPECT_FALSE(service_->Initialised());
  EXPECT_THAT(Lines(kSeverityWarning), ElementsAre("::fmDLLInit() failed"));
  EXPECT_EQ(Calls("fmDLLGetDeviceCount()"), 1);
  EXPECT_EQ(Calls("fmDLLSetUSBPacketSize(512)"), 0);
  EXPECT_THAT(Running(), ElementsAre(false));
  // 250 ms after init, 250 ms after each poll, 500 ms before the result.
  const auto pauses = clock_.Pauses();
  EXPECT_EQ(pauses.size(), 1u + 51u + 1u);
  EXPECT_EQ(std::accumulate(pauses.begin(), pauses.end(), milliseconds(0)),
            milliseconds(250 + 51 * 250 + 500));
  // Nothing starts until a detection succeeds.
  service_->PostCommand(boost::bind(&Service::StartAcquisition, service_.get()));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Calls("fmBroadcastStart()"), 0);
  EXPECT_THAT(Running(), ElementsAre(false));
  // fmDLLInit was called: destroying the service stops and shuts the driver down all the same.
  service_.reset();
  const auto calls = Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "fmBroadcastStop()");
  EXPECT_EQ(calls.back(), "fmDLLShutDown()");
  EXPECT_TRUE(services_.Logged("::fmDLLShutDown", kSeverityTrace));
}

TEST_F(ScriptedService, DestroyingAServiceThatNeverDetectedCallsNothing) {
  Start();
  service_->ZeroPlates();
  service_->PostCommand(boost::bind(&Service::StartAcquisition, service_.get()));
  ASSERT_TRUE(Settle());
  service_.reset();
  EXPECT_TRUE(Calls().empty());
}

TEST_F(ScriptedService, EverySetupCodeGivesItsStatusAndText) {
  const struct {
    int code;
    int status;
    const char* message;
  } rows[] = {
      {0, 1, "No Torva devices were found"},
      {1, 0, "The Torva setup is the same as the last saved configuration"},
      {211, 1, "The configuration file was not found"},
      {213, 1, "A configuration file was found but for the wrong version of the software"},
      {214, 1,
       "The configuration has changed. A different number of Torva devices were detected than "
       "the previously saved setup."},
      {215, 1,
       "The configuration has changed. The serial numbers don\x92t match the previously saved "
       "setup."},
      {212, 1, "fmDLLSetupCheck returned an unknown status code"},
      {216, 1, "fmDLLSetupCheck returned an unknown status code"},
  };
  Start();
  for (const auto& row : rows) {
    DriverScript script;
    script.setupCode = row.code;
    Script(script);
    ASSERT_TRUE(Detect());
    EXPECT_EQ(info_.setupCode, row.code);
    EXPECT_EQ(info_.status, row.status) << row.code;
    EXPECT_EQ(info_.message, row.message) << row.code;
  }
}

TEST_F(ScriptedService, ASecondDetectionStopsFirstAndWaitsASecondBeforeInitialising) {
  Start();
  ASSERT_TRUE(Detect());
  service_->SetStopPending(true);
  Script({});
  clock_.Clear();
  ASSERT_TRUE(Detect());
  const auto calls = Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "fmBroadcastStop()");
  EXPECT_EQ(calls[1], "fmDLLInit()");
  EXPECT_FALSE(service_->StopPending());
  const auto pauses = clock_.Pauses();
  ASSERT_GE(pauses.size(), 3u);
  EXPECT_THAT(std::vector<milliseconds>(pauses.begin(), pauses.begin() + 3),
              ElementsAre(milliseconds(250), milliseconds(1000), milliseconds(250)));
}

TEST_F(ScriptedService, DeviceRecordsTakeOffsetsOnlyFromType100AndCutTextsAtTheirField) {
  DriverScript script;
  script.amplifiers = {Amplifier(0, 100), Amplifier(1, 300)};
  script.amplifiers[1].amplifierSerial = "ABCDEFGHIJKLMNOPQRST";  // fills its field and more
  script.amplifiers[1].platformModel = std::string(40, 'M');
  Script(script);
  Start();
  ASSERT_TRUE(Detect());
  ASSERT_EQ(devices_.size(), 2u);
  EXPECT_THAT(devices_[0].xyzOffsets, ElementsAre(0.5f, -0.25f, -1.5f));
  EXPECT_THAT(devices_[1].xyzOffsets, ElementsAre(0.0f, 0.0f, 0.0f));
  EXPECT_EQ(Calls("fmGetPlatformXYZOffsets()"), 1);
  EXPECT_THAT(Lines(kSeverityTrace),
              Contains("::fmGetPlatformXYZOffsets() -> (0.000000, 0.000000, 0.000000)"));
  EXPECT_EQ(devices_[1].amplifierSerial, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(devices_[1].platformModel, std::string(28, 'M'));
  EXPECT_EQ(devices_[1].platformLength, "23.62");
  EXPECT_EQ(devices_[1].deviceIndex, 1);
}

TEST_F(ScriptedService, MoreThanFourDevicesDelayTheResultByTwoAndAHalfSeconds) {
  Start();
  for (const std::size_t count : {4u, 5u}) {
    DriverScript script;
    for (std::size_t i = 0; i < count; ++i) script.amplifiers.push_back(Amplifier(static_cast<int>(i)));
    Script(script);
    clock_.Clear();
    ASSERT_TRUE(Detect());
    const auto pauses = clock_.Pauses();
    ASSERT_GE(pauses.size(), 2u);
    if (count == 4) {
      EXPECT_EQ(pauses.back(), milliseconds(500));
      EXPECT_EQ(pauses[pauses.size() - 2], milliseconds(1000));
    } else {
      EXPECT_EQ(pauses.back(), milliseconds(2000));
      EXPECT_EQ(pauses[pauses.size() - 2], milliseconds(500));
    }
  }
}

// The download table: plates are listed by slot and selected by position, one after the other.
TEST_F(ScriptedService, SmartPlateDownloadsLogEachOutcomeInOrder) {
  DriverScript script;
  for (int i = 0; i < 8; ++i) script.amplifiers.push_back(Amplifier(i, 300));
  script.amplifiers[3].downloadStatus = {0, 0, 1};    // complete on the third poll
  script.amplifiers[5].downloadStatus = {0};          // never ends
  script.amplifiers[1].downloadStart = 3;             // no file
  script.amplifiers[1].platformSerial = "PS-0123456789ABCDEFG";  // 20 characters
  script.amplifiers[2].downloadStart = 2;
  script.amplifiers[4].downloadStatus = {0, 4};
  script.amplifiers[6].downloadStatus = {3};
  script.amplifiers[0].downloadStatus = {9};
  script.amplifiers[7].downloadStart = 7;
  script.notReady = {3, 5, 1, 2, 4, 6, 0, 7};
  Script(script);
  Start();
  ASSERT_TRUE(Detect());
  EXPECT_THAT(Lines(kSeverityWarning),
              ElementsAre("8 Vantors not ready - BCF download will be attempted",
                          "Vantor BCF download timed out for P0005", "Device 5 may give bad results",
                          "Can't find Vantor BCF on the system for PS-0123456789ABC",
                          "Device 1 may give bad results",
                          "Signal conditioner 2 thinks it's an Vantor but it isn't",
                          "Device 2 may give bad results",
                          "Bad CRC check on Vantor BCF download for P0004",
                          "Device 4 may give bad results", "Bad Vantor BCF version seen for P0006",
                          "Device 6 may give bad results", "Vantor BCF download failed for P0000",
                          "Device 0 may give bad results",
                          "Unable to download Vantor BCF for unknown reasons",
                          "Device 7 may give bad results"));
  EXPECT_THAT(Lines(kSeverityTrace), Contains("Vantor download is complete"));
  // Plate 3: three polls; plate 5: fifty; plate 1 was refused and never polled.
  const auto calls = Calls();
  std::vector<std::string> selections;
  for (const std::string& call : calls)
    if (call.rfind("fmDLLSelectDeviceIndex(", 0) == 0) selections.push_back(call);
  EXPECT_EQ(selections[0], "fmDLLSelectDeviceIndex(3)");
  EXPECT_EQ(selections[1], "fmDLLSelectDeviceIndex(5)");
  EXPECT_EQ(Calls("fmIsVantorDownloadComplete()"), 3 + 50 + 2 + 1 + 1);
  const auto pauses = clock_.Pauses();
  EXPECT_EQ(std::count(pauses.begin(), pauses.end(), milliseconds(500)), 2 + 50 + 1 + 1);
}

TEST_F(ScriptedService, ListedSlotsAreTranslatedToPositionsAndNoMoreThan25AreRead) {
  DriverScript script;
  for (int i = 0; i < 3; ++i) script.amplifiers.push_back(Amplifier(i, 300));
  script.order = {2, 0, 1};  // position 0 holds slot 2, ...
  script.notReady = {0, 7};  // slot 0 is at position 1; slot 7 is not in the order
  script.amplifiers[0].downloadStart = 3;
  Script(script);
  Start();
  ASSERT_TRUE(Detect());
  EXPECT_THAT(Lines(kSeverityWarning),
              ElementsAre("2 Vantors not ready - BCF download will be attempted",
                          "Can't find Vantor BCF on the system for P0000",
                          "Device 1 may give bad results", "Device 7 may give bad results"));

  // The driver lists at most 25 plates; a larger count is not believed.
  DriverScript many;
  for (int i = 0; i < 25; ++i) many.amplifiers.push_back(Amplifier(i, 300));
  for (int i = 0; i < 25; ++i) many.notReady.push_back(i);
  many.notReadyCount = 26;
  Script(many);
  services_.ClearLog();
  ASSERT_TRUE(Detect());
  EXPECT_THAT(Lines(kSeverityWarning),
              Contains("25 Vantors not ready - BCF download will be attempted"));
  EXPECT_EQ(Calls("fmVantorDownloadCalFile(1)"), 25);
}

// The shared-configuration device's commands, through the service, against the scripted driver.
class SharedDeviceCommands : public ScriptedService {
 protected:
  void SetUp() override {
    ScriptedService::SetUp();
    DriverScript script;
    script.amplifiers = {Amplifier(0), Amplifier(1)};
    Script(script);
    Start();
    shared_ = std::make_unique<Torva::VSharedConfigDevice>(&services_, service_.get());
    shared_->Attach(&host_);
    ASSERT_TRUE(WaitUntil([&] { return shared_->Devices().size() == 2; }));
    ASSERT_TRUE(Settle());
  }
  void TearDown() override {
    service_.reset();  // the worker may still call the shared device back while it ends
    shared_.reset();
  }
  // Holds the worker until Release, so that commands posted meanwhile queue up.
  void Hold() {
    service_->PostCommand([this] {
      std::unique_lock<std::mutex> lock(holdMutex_);
      holdChanged_.wait(lock, [this] { return !held_; });
    });
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(holdMutex_);
      held_ = false;
    }
    holdChanged_.notify_all();
  }
  Torva::RecordingHost host_;
  std::unique_ptr<Torva::VSharedConfigDevice> shared_;
  std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  bool held_ = true;
};

TEST_F(SharedDeviceCommands, TwoPreparesInARowStopOnceAndStartTwice) {
  const int stops = Calls("fmBroadcastStop()");
  Hold();
  ASSERT_TRUE(shared_->PrepareCapture(nullptr, nullptr));
  ASSERT_TRUE(shared_->PrepareCapture(nullptr, nullptr));
  Release();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Calls("fmBroadcastStop()"), stops + 1);
  EXPECT_EQ(Calls("fmBroadcastStart()"), 2);
}

TEST_F(SharedDeviceCommands, EachChangedParameterDoesItsOwnThing) {
  const struct {
    std::uint32_t id;
    const char* call;  // the driver call it leads to
    int more;          // how many more of that call
  } rows[] = {
      {4, "fmBroadcastStop()", 1},      // rate: a stop, once, until it has run
      {0, "fmBroadcastResetUSB()", 1},  // reset USB
      {1, "fmDLLInit()", 1},            // scan for hardware: a new detection
      {2, "fmBroadcastZero()", 0},      // zero: only while running
      {9, "fmBroadcastStop()", 0},      // unknown: ignored
  };
  for (const auto& row : rows) {
    const int before = Calls(row.call);
    host_.changed = {SabloDigitalDevice::ParameterId{row.id, 0}};
    shared_->OnParametersChanged();
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(WaitUntil([&] { return shared_->Devices().size() == 2; }));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Calls(row.call), before + row.more) << row.id;
  }
  // Zero while running goes to the driver at once, on this thread.
  service_->PostCommand(boost::bind(&Service::StartAcquisition, service_.get()));
  ASSERT_TRUE(Settle());
  host_.changed = {SabloDigitalDevice::ParameterId{2, 0}};
  shared_->OnParametersChanged();
  EXPECT_EQ(Calls("fmBroadcastZero()"), 1);
}

}  // namespace
}  // namespace torva
