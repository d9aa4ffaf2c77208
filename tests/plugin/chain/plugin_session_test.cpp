// Whole sessions through the plugin's entry points, in one process: the host core, the plugin's
// objects, the driver's objects and emulated amplifiers, with the prescribed pauses at a tenth.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "driver/api/TorvaUSBDevice.h"
#include "host/definition_registry.h"
#include "host/device_instantiator.h"
#include "host/host_result.h"
#include "host/host_services.h"
#include "host/recording_frame_sink.h"
#include "plugin/devices/parameter_value.h"
#include "plugin/frame/plugin_exports.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_bus.h"
#include "tests/support/process_stats.h"
#include "tests/support/scaled_sleep_clock.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva {
namespace {

using testing::WaitUntil;

// One host session: its own registry, instantiator and frame sink.
struct Session {
  host::HostServices services;
  host::DefinitionRegistry registry;
  host::RecordingFrameSink sink;
  host::DeviceInstantiator instantiator{registry, sink};

  // The plugin holds pointers to this session's host objects: it is shut down before they go,
  // also when a failed assertion leaves the test early.
  ~Session() { Shutdown(); }

  // Loads the plugin's definitions and instantiates the shared device, which starts a detection;
  // waits for the detection's end.
  bool Open() {
    if (!Initialise(&services)) return false;
    ProvideDeviceDefinitions(&registry);
    BeginDeviceInstantiation(&instantiator);
    OnManualDeviceInstantiation(Torva::kSharedMaker, Torva::kSharedDefinitionName,
                                Torva::kSharedVersion);
    // The shared device tells the host once the detection's devices are all in place.
    return WaitUntil(
        [&] { return Shared() != nullptr && Shared()->Host().StatusNotificationCount() > 0; },
        std::chrono::seconds(30));
  }
  host::DeviceInstance* Shared() const { return instantiator.Find(Torva::kSharedInstanceName); }
  std::vector<host::DeviceInstance*> Plates() const {
    std::vector<host::DeviceInstance*> plates;
    for (const std::string& name : instantiator.InstanceNames())
      if (name != Torva::kSharedInstanceName) plates.push_back(instantiator.Find(name));
    return plates;
  }
  bool Logged(const std::string& prefix) const {
    for (const auto& line : services.Lines())
      if (line.text.rfind(prefix, 0) == 0) return true;
    return false;
  }
  // Prepares every instance, the shared one first, and starts the clock of frame 0.
  bool Capture() {
    int handle = 0;
    if (!Shared()->PrepareCapture(&handle).accepted) return false;
    for (host::DeviceInstance* plate : Plates())
      if (!plate->PrepareCapture(&handle).accepted) return false;
    for (const std::string& name : instantiator.InstanceNames())
      instantiator.Find(name)->Device().SetStartTime(services.CurrentTime());
    return true;
  }
  void Close() {
    for (const std::string& name : instantiator.InstanceNames())
      instantiator.Find(name)->Device().OnCaptureStopped();
    Shutdown();
  }
};

class PluginSession : public testing::ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    std::filesystem::create_directories(Path("cfg"));
    Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path("cfg") + "/");
  }
  void TearDown() override {
    Shutdown();
    EXPECT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    sim::EmulatedBus::Instance().Reset();
    EXPECT_EQ(host::CountedResult::Alive(), resultsBefore_);
    ScratchDirectory::TearDown();
  }
  void Install(int count) {
    std::vector<sim::AmplifierDescription> plates;
    for (int i = 0; i < count; ++i) plates.push_back(sim::DescribeAmplifier(i, 100));
    amplifiers_ = sim::EmulatedBus::Instance().Install(plates);
  }

  const long resultsBefore_ = host::CountedResult::Alive();
  testing::ScaledSleepClock clock_;
  std::vector<std::shared_ptr<sim::EmulatedAmplifier>> amplifiers_;
};

TEST_F(PluginSession, WithoutAmplifiersTheDetectionSaysSoAndNoCaptureIsPrepared) {
  Install(0);
  Session session;
  ASSERT_TRUE(session.Open());
  EXPECT_TRUE(session.services.Logged(
      "Successful Torva device detection loop: No Torva devices were found", 1));
  EXPECT_TRUE(session.services.Logged("Detected 0 Torva digital devices", 1));
  EXPECT_TRUE(session.Plates().empty());
  EXPECT_FALSE(session.Capture());
  session.Close();
}

// An amplifier unplugged during a capture: the pushes stop, every frame before is there and
// contiguous, and the session still ends cleanly.
TEST_F(PluginSession, AnUnpluggedAmplifierStopsThePushesAndTheSessionStillEnds) {
  Install(2);
  Session session;
  ASSERT_TRUE(session.Open());
  ASSERT_EQ(session.Plates().size(), 2u);
  ASSERT_TRUE(session.Capture());
  ASSERT_TRUE(WaitUntil([&] { return session.sink.BlockCount() >= 2 * 20; }));
  amplifiers_[1]->Unplug();
  ASSERT_TRUE(WaitUntil([&] {
    char text[TORVA_ERROR_TEXT_BYTES] = {};
    return fmDLLGetError(text) != 0;
  }));
  const std::size_t atLoss = session.sink.BlockCount();
  // The other plate keeps streaming, yet no frame completes without the lost one.
  const std::int64_t sent = amplifiers_[0]->PacketsSent();
  ASSERT_TRUE(WaitUntil([&] { return amplifiers_[0]->PacketsSent() >= sent + 30; }));
  EXPECT_LE(session.sink.BlockCount(), atLoss + 2);
  std::map<std::string, std::vector<std::int64_t>> frames;
  for (const auto& block : session.sink.Blocks()) frames[block.device].push_back(block.firstFrame);
  for (const auto& [device, numbers] : frames)
    for (std::size_t i = 1; i < numbers.size(); ++i)
      ASSERT_EQ(numbers[i] - numbers[i - 1], 16) << device;
  const auto started = std::chrono::steady_clock::now();
  session.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

// Settings a user may type into the host: each gets the plugin's warning and fallback, and the
// capture still delivers data.
TEST_F(PluginSession, NonsenseSettingsGetAWarningAndAFallbackAndTheCaptureStillRuns) {
  Install(1);
  const struct {
    std::string rate;
    double threshold;
    std::string sync;
    std::string warning;  // a warning that must appear ("" for none)
  } rows[] = {
      {"fast", 20.0, "Software trigger", "Sample rate \"fast\" is not a rate"},
      {"-5", 20.0, "Software trigger", "Sample rate \"-5\" is not a rate"},
      {"", 20.0, "Software trigger", "Sample rate \"\" is not a rate"},
      {"99999", 20.0, "Software trigger", "Sample rate 99999 adjusted to 2000 to match devices"},
      {"1100", 20.0, "Software trigger", "Sample rate 1100 adjusted to 1000 to match devices"},
      {"1000", std::nan(""), "Software trigger", "Fz threshold nan adjusted to 20.000000"},
      {"1000", -3.0, "Software trigger", "Fz threshold -3.000000 adjusted to 0.000000"},
      {"1000", 80.0, "Software trigger", "Fz threshold 80.000000 adjusted to 50.000000"},
      {"1000", 20.0, "Sideways trigger", ""},  // an unknown mode is the software trigger
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rate + " " + std::to_string(row.threshold) + " " + row.sync);
    Session session;
    ASSERT_TRUE(session.Open());
    SabloDigitalDevice::IParameterValueEnum rate;
    rate.SetValue(row.rate);
    SabloDigitalDevice::IParameterValueDouble threshold;
    threshold.SetValue(row.threshold);
    SabloDigitalDevice::IParameterValueEnum sync;
    sync.SetValue(row.sync);
    host::DeviceHost& shared = session.Shared()->Host();
    EXPECT_EQ(shared.SetByHost("SampleRate", rate), std::nullopt);
    EXPECT_EQ(shared.SetByHost("DataThreshold", threshold), std::nullopt);
    EXPECT_EQ(shared.SetByHost("SyncMode", sync), std::nullopt);
    ASSERT_TRUE(session.Capture());
    ASSERT_TRUE(WaitUntil([&] { return session.sink.BlockCount() >= 4; }));
    if (!row.warning.empty()) {
      EXPECT_TRUE(session.Logged(row.warning));
    }
    session.Close();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
  }
}

// The setup check's result reaches the host at severity 1, whatever it is, and the capture works.
TEST_F(PluginSession, EverySetupCheckResultReachesTheHostAndTheCaptureStillWorks) {
  Install(2);
  const auto setupOf = [&](int version, std::size_t count) {
    std::string text = std::to_string(version) + "\r\n" + std::to_string(count) +
                       "\r\n1000\r\n0\r\n0\r\n";
    for (std::size_t i = 0; i < count; ++i) {
      const auto& d = i < amplifiers_.size() ? amplifiers_[i]->Description()
                                             : sim::DescribeAmplifier(static_cast<int>(i), 100);
      text += d.amplifierSerial + "\r\n" + d.amplifierModel + "\r\n" + d.platformSerial +
              "\r\n" + d.platformModel + "\r\n";
    }
    return text;
  };
  const struct {
    std::string file;
    std::string message;
  } rows[] = {
      {"", "The configuration file was not found"},
      {setupOf(100, 2), "A configuration file was found but for the wrong version of the software"},
      {setupOf(101, 3),
       "The configuration has changed. A different number of Torva devices were detected than the "
       "previously saved setup."},
      {setupOf(101, 2), "The Torva setup is the same as the last saved configuration"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    std::filesystem::remove(Path("cfg/TorvaUsbSetup.cfg"));
    if (!row.file.empty()) WriteFile(Path("cfg/TorvaUsbSetup.cfg"), row.file);
    Session session;
    ASSERT_TRUE(session.Open());
    EXPECT_TRUE(
        session.services.Logged("Successful Torva device detection loop: " + row.message, 1));
    ASSERT_TRUE(session.Capture());
    EXPECT_TRUE(WaitUntil([&] { return session.sink.BlockCount() >= 4; }));
    session.Close();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
  }
}

// Smart plates during a detection: a listed plate whose file is there is loaded by the plugin, one
// without a file gets the two warnings, one that stays busy times out; each capture still works.
TEST_F(PluginSession, SmartPlateDownloadsDuringADetectionAndTheCaptureAfterwards) {
  std::filesystem::create_directories(Path("cal"));
  Settings().Write("SOFTWARE\\Torva\\HPS", "Path", Path("cal") + "/");
  enum Case { kLoads, kNoFile, kStaysBusy };
  for (const Case which : {kLoads, kNoFile, kStaysBusy}) {
    SCOPED_TRACE(which);
    auto plate = sim::DescribeAmplifier(0, 300);
    plate.smartPlateStatus = 2;  // listed by the driver, which leaves it to the plugin
    std::filesystem::remove(Path("cal/" + plate.platformSerial + ".bcf"));
    if (which != kNoFile) {
      std::string file(1500, '\x07');
      const std::int32_t header[2] = {300, 4};
      std::memcpy(file.data(), header, sizeof header);
      WriteFile(Path("cal/" + plate.platformSerial + ".bcf"), file);
    }
    amplifiers_ = sim::EmulatedBus::Instance().Install({plate});
    if (which == kStaysBusy) amplifiers_[0]->SetPlateStaysBusy(true);
    Session session;
    ASSERT_TRUE(session.Open());
    if (which == kLoads) {
      EXPECT_TRUE(session.services.Logged("Vantor download is complete", 0));
    } else if (which == kNoFile) {
      EXPECT_TRUE(session.services.Logged(
          "Can't find Vantor BCF on the system for " + plate.platformSerial, 2));
      EXPECT_TRUE(session.services.Logged("Device 0 may give bad results", 2));
    } else {
      EXPECT_TRUE(session.services.Logged(
          "Vantor BCF download timed out for " + plate.platformSerial, 2));
    }
    ASSERT_TRUE(session.Capture());
    EXPECT_TRUE(WaitUntil([&] { return session.sink.BlockCount() >= 4; }));
    session.Close();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    sim::EmulatedBus::Instance().Reset();
  }
}

// Twenty whole sessions in one process leave no thread behind (and, in the sanitizer build, no
// leak for LeakSanitizer to report).
TEST_F(PluginSession, TwentySessionsLeaveNoThread) {
  Install(2);
  const std::size_t threads = testing::ThreadBaseline();
  for (int cycle = 0; cycle < 20; ++cycle) {
    Session session;
    ASSERT_TRUE(session.Open()) << "cycle " << cycle;
    ASSERT_EQ(session.Plates().size(), 2u) << "cycle " << cycle;
    ASSERT_TRUE(session.Capture()) << "cycle " << cycle;
    ASSERT_TRUE(WaitUntil([&] { return session.sink.BlockCount() >= 4; })) << "cycle " << cycle;
    session.Close();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; })) << "cycle " << cycle;
  }
  EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() == threads; }));
}

}  // namespace
}  // namespace torva
