// The driver service against the driver library on emulated amplifiers: detection, commands, the
// data pump, smart-plate downloads and shutdown, with the prescribed pauses taken at a tenth of
// their length and recorded.

#include "plugin/service/driver_service.h"


#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <boost/bind/bind.hpp>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "host/host_services.h"
#include "plugin/service/plugin_log.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_bus.h"
#include "tests/support/process_stats.h"
#include "tests/support/scaled_sleep_clock.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using std::chrono::milliseconds;
using testing::WaitUntil;
using Service = Torva::VTorvaDriverService;
using Torva::kSeverityError;
using Torva::kSeverityTrace;
using Torva::kSeverityWarning;

constexpr std::chrono::seconds kDetectionLimit{20};

class DriverService : public testing::ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    std::filesystem::create_directories(Path("cfg"));
    std::filesystem::create_directories(Path("cal"));
    Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path("cfg") + "/");
    Settings().Write("SOFTWARE\\Torva\\HPS", "Path", Path("cal") + "/");
  }
  void TearDown() override {
    service_.reset();
    EXPECT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    sim::EmulatedBus::Instance().Reset();
    ScratchDirectory::TearDown();
  }
  void Install(const std::vector<sim::AmplifierDescription>& amplifiers) {
    amplifiers_ = sim::EmulatedBus::Instance().Install(amplifiers);
  }
  void Start() {
    service_ = std::make_unique<Service>(&services_);
    service_->SetRunningCallback([this](bool running) {
      std::lock_guard<std::mutex> lock(mutex_);
      runningReports_.push_back(running);
    });
  }
  // Runs a detection and waits for its result.
  bool Detect() {
    detected_ = false;
    service_->BeginDetection([this](Service::VDllInitInfo info, std::vector<Service::VDeviceInfo> devices) {
      std::lock_guard<std::mutex> lock(mutex_);
      info_ = info;
      devices_ = devices;
      detected_ = true;
    });
    return WaitUntil([this] { return detected_.load(); }, kDetectionLimit);
  }
  std::vector<std::string> Trace() const {
    std::vector<std::string> lines;
    for (const host::LogLine& line : services_.Lines())
      if (line.severity == kSeverityTrace) lines.push_back(line.text);
    return lines;
  }
  std::vector<std::string> Warnings() const {
    std::vector<std::string> lines;
    for (const host::LogLine& line : services_.Lines())
      if (line.severity == kSeverityWarning) lines.push_back(line.text);
    return lines;
  }
  std::vector<bool> RunningReports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return runningReports_;
  }
  // Writes a calibration file for a smart plate.
  void WriteCalibration(const sim::AmplifierDescription& plate, std::size_t bytes) {
    std::string file(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) file[i] = static_cast<char>(i * 7 + 3);
    const std::int32_t header[2] = {plate.productType, 4};
    std::memcpy(file.data(), header, sizeof header);
    WriteFile(Path("cal/") + plate.platformSerial + ".bcf", file);
  }

  testing::ScaledSleepClock clock_;
  host::HostServices services_;
  std::unique_ptr<Service> service_;
  std::vector<std::shared_ptr<sim::EmulatedAmplifier>> amplifiers_;
  std::mutex mutex_;
  std::atomic<bool> detected_{false};
  Service::VDllInitInfo info_;
  std::vector<Service::VDeviceInfo> devices_;
  std::vector<bool> runningReports_;
};

TEST_F(DriverService, DetectionReportsTheSetupAndEveryAmplifierAfterTheSettingsInOrder) {
  const auto a = sim::DescribeAmplifier(0, 100);
  const auto b = sim::DescribeAmplifier(1, 300);
  Install({a, b});
  Start();
  ASSERT_TRUE(Detect());
  // No saved setup: code 211, which is not "the same setup".
  EXPECT_EQ(info_.status, 1);
  EXPECT_EQ(info_.setupCode, 211);
  EXPECT_EQ(info_.message, "The configuration file was not found");
  ASSERT_EQ(devices_.size(), 2u);
  const sim::AmplifierDescription* described[] = {&a, &b};
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const Service::VDeviceInfo& device = devices_[i];
    EXPECT_EQ(device.deviceIndex, static_cast<int>(i));
    EXPECT_EQ(device.productType, described[i]->productType);
    EXPECT_EQ(device.amplifierSerial, described[i]->amplifierSerial);
    EXPECT_EQ(device.amplifierModel, described[i]->amplifierModel);
    EXPECT_EQ(device.platformSerial, described[i]->platformSerial);
    EXPECT_EQ(device.platformModel, described[i]->platformModel);
    EXPECT_FALSE(device.platformLength.empty());
  }
  EXPECT_NE(devices_[0].xyzOffsets[2], 0.0f);  // product 100 reports its offsets
  EXPECT_THAT(devices_[1].xyzOffsets, ElementsAre(0.0f, 0.0f, 0.0f));
  EXPECT_TRUE(service_->Initialised());
  EXPECT_FALSE(service_->Running());
  EXPECT_THAT(RunningReports(), ElementsAre(false));

  // The trace: init, polls, setup check, the settings in order, the count, then each device.
  const std::vector<std::string> trace = Trace();
  ASSERT_GE(trace.size(), 12u);
  EXPECT_EQ(trace[0], "::fmDLLInit()");
  std::size_t at = 1;
  while (at < trace.size() && trace[at].rfind("::fmDLLIsDeviceInitComplete() -> ", 0) == 0) ++at;
  EXPECT_EQ(trace[at - 1], "::fmDLLIsDeviceInitComplete() -> 2");
  const std::string threadLine =
      "::fmDLLPostUserThreadMessages(" + std::to_string(service_->WorkerThreadId()) + ")";
  const std::vector<std::string> settings(trace.begin() + static_cast<std::ptrdiff_t>(at),
                                          trace.begin() + static_cast<std::ptrdiff_t>(at) + 10);
  EXPECT_THAT(settings, ElementsAre("::fmDLLSetupCheck() -> 211", "::fmDLLSetUSBPacketSize(512)",
                                    "::fmBroadcastRunMode(0)", "::fmDLLSetDataFormat(1)",
                                    "::fmDLLPostDataReadyMessages(1)", threadLine,
                                    "::fmBroadcastGenlock(0)", "::fmBroadcastResetSoftware()",
                                    "::fmDLLGetDeviceCount() -> 2", "::fmDLLSelectDeviceIndex(0)"));
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "::fmGetPlatformXYZOffsets() -> (0.000000, 0.000000, 0.000000)"), 1);
  EXPECT_EQ(std::count(trace.begin(), trace.end(),
                       "::fmGetPlatformSerialNumber() -> " + b.platformSerial), 1);

  // The pauses: 250 ms after init, 250 ms after each poll, 1000 ms after the settings, 500 ms
  // before the result.
  const auto pauses = clock_.Pauses();
  ASSERT_GE(pauses.size(), 4u);
  EXPECT_EQ(pauses.front(), milliseconds(250));
  EXPECT_EQ(pauses[pauses.size() - 2], milliseconds(1000));
  EXPECT_EQ(pauses.back(), milliseconds(500));
  EXPECT_EQ(pauses.size(), 1 + (at - 1) + 2);
}

TEST_F(DriverService, ATimedOutInitialisationStillCountsAndTheDriverIsShutDownAtTheEnd) {
  Install({sim::DescribeAmplifier(0, 100)});
  amplifiers_[0]->SetRepliesHeld(true);  // the bring-up never completes
  Start();
  ASSERT_TRUE(Detect());
  EXPECT_EQ(info_.status, 2);
  EXPECT_EQ(info_.message,
            "Torva device initialization timed out, consider restarting the application.");
  EXPECT_FALSE(service_->Initialised());
  EXPECT_TRUE(services_.Logged("::fmDLLInit() failed", kSeverityWarning));
  const auto trace = Trace();
  EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](const std::string& line) {
              return line.rfind("::fmDLLIsDeviceInitComplete() -> ", 0) == 0;
            }), 51);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "::fmDLLSetUSBPacketSize(512)"), 0);
  EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](const std::string& line) {
              return line.rfind("::fmDLLGetDeviceCount() -> ", 0) == 0;
            }), 1);
  EXPECT_THAT(RunningReports(), ElementsAre(false));
  // A start before a successful detection does nothing.
  service_->PostCommand(boost::bind(&Service::StartAcquisition, service_.get()));
  service_->PostCommand(boost::bind(&Service::SetStopPending, service_.get(), false));
  ASSERT_TRUE(WaitUntil([&] { return clock_.Pauses().size() > 0; }));
  amplifiers_[0]->SetRepliesHeld(false);
  // fmDLLInit was called, so destroying the service shuts the library down (TearDown waits).
  service_.reset();
  EXPECT_TRUE(services_.Logged("::fmDLLShutDown", kSeverityTrace));
  EXPECT_THAT(RunningReports(), ElementsAre(false));
}

TEST_F(DriverService, CommandsRunInOrderAndEveryBlockReachesTheDataCallbackOnceInOrder) {
  Install({sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 100)});
  Start();
  std::vector<int> order;
  // A command that throws is logged and the next one still runs.
  service_->PostCommand([] { throw std::runtime_error("no amplifier"); });
  for (int i = 0; i < 3; ++i) service_->PostCommand([&order, i] { order.push_back(i); });
  std::vector<float> counters;
  std::atomic<int> blocks{0};
  int misaligned = 0;
  service_->SetDataCallback([&](float* block) {
    const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, 2};
    for (int row = 0; row < 16; ++row) {
      counters.push_back(block[torva_frame_counter(layout, row, 0)]);
      if (block[torva_frame_counter(layout, row, 1)] != block[torva_frame_counter(layout, row, 0)])
        ++misaligned;
    }
    ++blocks;
  });
  service_->SetDataCallback([](float*) { ADD_FAILURE() << "a second data callback was installed"; });
  ASSERT_TRUE(Detect());
  EXPECT_THAT(order, ElementsAre(0, 1, 2));
  EXPECT_TRUE(services_.Logged("A driver command failed: no amplifier", kSeverityError));

  service_->ZeroPlates();  // not running: nothing is sent
  EXPECT_FALSE(services_.Logged("::fmBroadcastZero()", kSeverityTrace));
  service_->PostCommand(boost::bind(&Service::StartAcquisition, service_.get()));
  ASSERT_TRUE(WaitUntil([&] { return blocks.load() >= 20; }));
  EXPECT_TRUE(service_->Running());
  service_->ZeroPlates();
  EXPECT_TRUE(services_.Logged("::fmBroadcastZero()", kSeverityTrace));
  service_->SetStopPending(true);
  service_->PostCommand(boost::bind(&Service::StopAcquisition, service_.get()));
  ASSERT_TRUE(WaitUntil([&] { return !service_->Running(); }));
  EXPECT_FALSE(service_->StopPending());
  EXPECT_THAT(RunningReports(), ElementsAre(false, true, false));
  service_.reset();  // joins the worker: the callback is done with `counters`
  ASSERT_GE(counters.size(), 20u * 16u);
  EXPECT_EQ(misaligned, 0);
  for (std::size_t i = 1; i < counters.size(); ++i)
    ASSERT_EQ(counters[i], counters[i - 1] + 1.0f) << "block row " << i;
}

TEST_F(DriverService, SetupCheckCodesComeFromTheSavedSetup) {
  const auto a = sim::DescribeAmplifier(0, 100);
  const auto b = sim::DescribeAmplifier(1, 100);
  const auto c = sim::DescribeAmplifier(2, 100);
  Install({a, b});
  const auto setupOf = [](int version, const std::vector<sim::AmplifierDescription>& saved) {
    std::string text = std::to_string(version) + "\r\n" + std::to_string(saved.size()) +
                       "\r\n1000\r\n0\r\n0\r\n";
    for (const auto& amplifier : saved)
      text += amplifier.amplifierSerial + "\r\n" + amplifier.amplifierModel + "\r\n" +
              amplifier.platformSerial + "\r\n" + amplifier.platformModel + "\r\n";
    return text;
  };
  const struct {
    std::string file;  // empty: none
    int code;
    int status;
  } rows[] = {
      {"", 211, 1},
      {setupOf(100, {a, b}), 213, 1},
      {setupOf(101, {a, b, c}), 214, 1},
      {setupOf(101, {a, b}), 1, 0},
  };
  Start();
  for (const auto& row : rows) {
    std::filesystem::remove(Path("cfg/TorvaUsbSetup.cfg"));
    if (!row.file.empty()) WriteFile(Path("cfg/TorvaUsbSetup.cfg"), row.file);
    ASSERT_TRUE(Detect());
    EXPECT_EQ(info_.setupCode, row.code);
    EXPECT_EQ(info_.status, row.status) << row.code;
  }
}

// Plates still not ready after the bring-up are downloaded by position, and named by it; the
// driver lists them by slot, which differs once a saved setup has reordered the plates.
TEST_F(DriverService, SmartPlatesAreDownloadedByPositionAndEveryOutcomeIsLogged) {
  auto plain = sim::DescribeAmplifier(0, 100);
  auto missing = sim::DescribeAmplifier(1, 300);
  missing.smartPlateStatus = 3;  // needs its file, and there is none
  auto faulty = sim::DescribeAmplifier(2, 400);
  faulty.smartPlateStatus = 2;  // listed by the bring-up, which does not download to it
  Install({plain, missing, faulty});
  WriteCalibration(faulty, 1500);
  // The saved order: faulty, plain, missing; so slot 1 is at position 2 and slot 2 at position 0.
  std::string setup = "101\r\n3\r\n1000\r\n0\r\n0\r\n";
  for (const sim::AmplifierDescription* a : {&faulty, &plain, &missing})
    setup += a->amplifierSerial + "\r\n" + a->amplifierModel + "\r\n" + a->platformSerial +
             "\r\n" + a->platformModel + "\r\n";
  WriteFile(Path("cfg/TorvaUsbSetup.cfg"), setup);
  Start();
  ASSERT_TRUE(Detect());
  EXPECT_EQ(info_.setupCode, 1);
  EXPECT_EQ(info_.status, 0);
  EXPECT_THAT(Warnings(), ElementsAre("2 Vantors not ready - BCF download will be attempted",
                                      "Can't find Vantor BCF on the system for " +
                                          missing.platformSerial,
                                      "Device 2 may give bad results"));
  EXPECT_TRUE(services_.Logged("fmVantorDownloadCalFile() called for platform " +
                                   faulty.platformSerial,
                               kSeverityTrace));
  EXPECT_TRUE(services_.Logged("Vantor download is complete", kSeverityTrace));
  EXPECT_FALSE(amplifiers_[2]->ReceivedCalibration().empty());
  EXPECT_TRUE(amplifiers_[1]->ReceivedCalibration().empty());
  ASSERT_EQ(devices_.size(), 3u);
  EXPECT_EQ(devices_[0].platformSerial, faulty.platformSerial);
  // Each poll of a running download waited 500 ms.
  const auto pauses = clock_.Pauses();
  EXPECT_GE(std::count(pauses.begin(), pauses.end(), milliseconds(500)), 1);
}

// What becomes of a smart plate's download, through the driver and the emulated plate: the
// driver loads a plate that needs its file during the bring-up; the plugin downloads to the plates
// the driver lists (status 2 or 5) and logs how each download ended.
TEST_F(DriverService, SmartPlateDownloadOutcomesThroughTheEmulatedPlate) {
  enum Knob { kNone, kCorrupt, kRejectVersion, kStaysBusy };
  const struct {
    std::int32_t plateStatus;
    Knob knob;
    std::vector<std::string> warnings;  // besides the announcement
  } rows[] = {
      {3, kNone, {}},
      {5, kCorrupt, {"Bad CRC check on Vantor BCF download for ", "Device 0 may give bad results"}},
      {2, kRejectVersion,
       {"Bad Vantor BCF version seen for ", "Device 0 may give bad results"}},
      {2, kStaysBusy, {"Vantor BCF download timed out for ", "Device 0 may give bad results"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("plate status " + std::to_string(row.plateStatus) + ", knob " +
                 std::to_string(row.knob));
    auto plate = sim::DescribeAmplifier(0, 300);
    plate.smartPlateStatus = row.plateStatus;
    Install({plate});
    WriteCalibration(plate, 1500);
    if (row.knob == kCorrupt) amplifiers_[0]->CorruptCalibrationByte(100);
    if (row.knob == kRejectVersion) amplifiers_[0]->SetRejectCalibrationVersion(true);
    if (row.knob == kStaysBusy) amplifiers_[0]->SetPlateStaysBusy(true);
    services_.ClearLog();
    Start();
    ASSERT_TRUE(Detect());
    std::vector<std::string> expected;
    if (row.plateStatus != 3) {
      expected.push_back("1 Vantors not ready - BCF download will be attempted");
      expected.push_back(row.warnings[0] + plate.platformSerial);
      expected.push_back(row.warnings[1]);
    }
    EXPECT_EQ(Warnings(), expected);
    if (row.knob == kNone) {
      EXPECT_EQ(amplifiers_[0]->Memory().smartPlateStatus, 1);  // loaded during the bring-up
    }
    service_.reset();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    sim::EmulatedBus::Instance().Reset();
  }
}

// Detection and destruction over and over: no thread is left behind, memory does not grow and
// the library is shut down within 2 s each time.
class DriverServiceSoak : public DriverService {
 protected:
  // Pauses at a fiftieth of their length: the poll loop still spans a quarter of a second.
  testing::ScaledSleepClock fastClock_{50};
};

TEST_F(DriverServiceSoak, FiftyDetectionsAndDestructionsLeaveNoThreadAndNoGrowth) {
  Install({sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 100)});
  const std::size_t threads = testing::ThreadBaseline();
  std::size_t residentAfterFirst = 0;
  for (int cycle = 0; cycle < 50; ++cycle) {
    Start();
    ASSERT_TRUE(Detect()) << "cycle " << cycle;
    ASSERT_EQ(devices_.size(), 2u) << "cycle " << cycle;
    service_.reset();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }))
        << "cycle " << cycle;
    if (cycle == 0) residentAfterFirst = testing::ResidentBytes();
  }
  EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() == threads; }));
  // Growth of a few pages is allocator noise; a leak per cycle would show as far more.
  if (testing::kMemoryLimitsApply) {
    EXPECT_LT(testing::ResidentBytes(), residentAfterFirst + 4 * 1024 * 1024);
  }
}

}  // namespace
}  // namespace torva
