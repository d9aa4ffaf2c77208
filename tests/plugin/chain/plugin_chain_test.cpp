// The whole chain in one process: the stand-in host core, the plugin's definitions and devices,
// its driver service, the driver library's objects and emulated amplifiers, with the prescribed
// pauses taken at a tenth of their length.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/api/TorvaUSBDevice.h"
#include "host/definition_registry.h"
#include "host/device_instantiator.h"
#include "host/host_result.h"
#include "host/host_services.h"
#include "host/recording_frame_sink.h"
#include "plugin/devices/plate_definitions.h"
#include "plugin/devices/shared_config_definition.h"
#include "plugin/devices/shared_config_device.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_bus.h"
#include "tests/support/scaled_sleep_clock.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva {
namespace {

using testing::WaitUntil;

constexpr const char* kSharedInstance = "Torva Shared Config Device";

class PluginChain : public testing::ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    std::filesystem::create_directories(Path("cfg"));
    Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path("cfg") + "/");
    std::vector<sim::AmplifierDescription> plates = {
        sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 300), sim::DescribeAmplifier(2, 400)};
    // Someone standing still, a little off centre, on every plate.
    for (auto& plate : plates) plate.signal = sim::SignalProfile::kStaticLoad;
    amplifiers_ = sim::EmulatedBus::Instance().Install(plates);
    Torva::VSharedConfigDefinition shared;
    shared.Declare(&registry_, true);
    Torva::DeclarePlateDefinitions(&registry_);
    // The host took all fourteen definitions: nothing refused, nothing left unreleased.
    EXPECT_EQ(registry_.Definitions().size(), 14u);
    EXPECT_EQ(host::CountedResult::Alive(), resultsBefore_);
  }
  void TearDown() override {
    // The service first: its worker may still call the shared device back while it ends.
    service_.reset();
    shared_.reset();
    EXPECT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    sim::EmulatedBus::Instance().Reset();
    // Every result the host handed to the plugin was released.
    EXPECT_EQ(host::CountedResult::Alive(), resultsBefore_);
    ScratchDirectory::TearDown();
  }
  // Starts the plugin's side and instantiates the shared device, which detects the plates.
  void Start() {
    service_ = std::make_unique<Torva::VTorvaDriverService>(&services_);
    shared_ = std::make_unique<Torva::VSharedConfigDevice>(&services_, service_.get());
    shared_->SetInstantiator(&instantiator_);
    SabloDigitalDevice::HostResult* result = nullptr;
    instantiator_.Instantiate(&result, "Torva", "Digital device common settings", "V1.0",
                              kSharedInstance, shared_.get());
    ASSERT_EQ(result, nullptr) << result->Text();
  }
  std::vector<std::string> Warnings() const {
    std::vector<std::string> lines;
    for (const auto& line : services_.Lines())
      if (line.severity == 2) lines.push_back(line.text);
    return lines;
  }

  const long resultsBefore_ = host::CountedResult::Alive();
  testing::ScaledSleepClock clock_;
  host::HostServices services_;
  host::DefinitionRegistry registry_;
  host::RecordingFrameSink sink_;
  host::DeviceInstantiator instantiator_{registry_, sink_};
  std::unique_ptr<Torva::VTorvaDriverService> service_;
  std::unique_ptr<Torva::VSharedConfigDevice> shared_;
  std::vector<std::shared_ptr<sim::EmulatedAmplifier>> amplifiers_;
};

TEST_F(PluginChain, ThreePlatesAreInstantiatedAndCaptureTogetherAtTheRateTheyShare) {
  Start();
  ASSERT_TRUE(WaitUntil([&] { return instantiator_.InstanceNames().size() == 4; },
                        std::chrono::seconds(20)));
  const auto names = instantiator_.InstanceNames();
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& amplifier = amplifiers_[i]->Description();
    const std::string name = amplifier.amplifierSerial + amplifier.platformSerial;
    EXPECT_EQ(names[i + 1], name);
    host::DeviceInstance* instance = instantiator_.Find(name);
    ASSERT_NE(instance, nullptr);
    SabloDigitalDevice::IParameterValueBool connected;
    EXPECT_EQ(instance->Host().ReadByHost("Connected", connected), std::nullopt);
    EXPECT_TRUE(connected.GetValue()) << name;
  }

  // The user asks for 2000 samples/s; a type-400 plate cannot run it.
  host::DeviceInstance* shared = instantiator_.Find(kSharedInstance);
  ASSERT_NE(shared, nullptr);
  SabloDigitalDevice::IParameterValueEnum rate;
  rate.SetValue("2000");
  ASSERT_EQ(shared->Host().SetByHost("SampleRate", rate), std::nullopt);
  int handle = 0;
  for (const std::string& name : names) {
    const auto outcome = instantiator_.Find(name)->PrepareCapture(&handle);
    EXPECT_TRUE(outcome.accepted) << name;
  }
  shared_->SetStartTime(services_.CurrentTime());
  ASSERT_TRUE(WaitUntil([&] { return sink_.BlockCount() >= 3 * 40; }, std::chrono::seconds(20)));
  Torva::VTorvaDriverService* service = service_.get();
  service->PostCommand([service] { service->StopAcquisition(); });
  EXPECT_THAT(Warnings(), ::testing::Contains("Sample rate 2000 adjusted to 1000 to match devices"));
  for (const auto& amplifier : amplifiers_) EXPECT_EQ(amplifier->StreamRate(), 1000);

  // Every plate receives the same frame numbers, 16 apart, starting near 0.
  std::map<std::string, std::vector<std::int64_t>> frames;
  for (const auto& block : sink_.Blocks()) {
    EXPECT_EQ(block.samples, 16u);
    EXPECT_EQ(block.values.size(), 144u);
    frames[block.device].push_back(block.firstFrame);
  }
  ASSERT_EQ(frames.size(), 3u);
  const auto& first = frames.begin()->second;
  EXPECT_LT(std::abs(first.front()), 200);
  for (const auto& [device, numbers] : frames) {
    const std::size_t common = std::min(numbers.size(), first.size());
    for (std::size_t i = 0; i < common; ++i) ASSERT_EQ(numbers[i], first[i]) << device << " " << i;
    for (std::size_t i = 1; i < numbers.size(); ++i)
      ASSERT_EQ(numbers[i] - numbers[i - 1], 16) << device << " " << i;
  }
}

// The emulated plates carry a person of 75 kg standing 30 mm to the side and 50 mm back of the
// centre, swaying 6 mm: the host receives the weight downwards (z turned up) and the centre of
// pressure at that point with x mirrored.
TEST_F(PluginChain, AStandingPersonArrivesAsTheirWeightAtTheirStandingPoint) {
  Start();
  ASSERT_TRUE(WaitUntil([&] { return instantiator_.InstanceNames().size() == 4; },
                        std::chrono::seconds(20)));
  int handle = 0;
  for (const std::string& name : instantiator_.InstanceNames())
    ASSERT_TRUE(instantiator_.Find(name)->PrepareCapture(&handle).accepted) << name;
  shared_->SetStartTime(services_.CurrentTime());
  ASSERT_TRUE(WaitUntil([&] { return sink_.BlockCount() >= 3 * 20; }, std::chrono::seconds(20)));
  std::map<std::string, double> weights;  // by instance name: each plate has its own person
  for (const auto& amplifier : amplifiers_) {
    const auto& d = amplifier->Description();
    weights[d.amplifierSerial + d.platformSerial] = d.bodyMassKg * 9.81;
  }
  int loaded = 0;
  for (const auto& block : sink_.Blocks()) {
    const double weight = weights.at(block.device);
    for (std::size_t sample = 0; sample < block.samples; ++sample) {
      const float* values = block.values.data() + sample * 9;
      ++loaded;
      EXPECT_NEAR(values[2], -weight, 5.0) << block.device;
      EXPECT_NEAR(values[6], -0.03, 0.006 + 0.002) << block.device;  // Cx, mirrored
      EXPECT_NEAR(values[7], -0.05, 0.003 + 0.002) << block.device;  // Cy
      EXPECT_EQ(values[8], 0.0f);
    }
  }
  EXPECT_GE(loaded, 3 * 20 * 16);
}

// In hardware-trigger mode nothing reaches the host until a plate's auxiliary word carries its
// trigger level; the block holding the trigger starts within 16 samples before frame 0.
TEST_F(PluginChain, AHardwareTriggeredCaptureStartsAtTheTrigger) {
  amplifiers_[0]->SetTriggerLevel(0);  // type 100 and 300 trigger at 1, type 400 at 0
  amplifiers_[1]->SetTriggerLevel(0);
  amplifiers_[2]->SetTriggerLevel(5);
  Start();
  ASSERT_TRUE(WaitUntil([&] { return instantiator_.InstanceNames().size() == 4; },
                        std::chrono::seconds(20)));
  SabloDigitalDevice::IParameterValueEnum mode;
  mode.SetValue("Hardware trigger");
  ASSERT_EQ(instantiator_.Find(kSharedInstance)->Host().SetByHost("SyncMode", mode), std::nullopt);
  int handle = 0;
  for (const std::string& name : instantiator_.InstanceNames())
    ASSERT_TRUE(instantiator_.Find(name)->PrepareCapture(&handle).accepted) << name;
  // Streaming, but no trigger: the plates have sent packets and the host has none.
  const std::int64_t sent = amplifiers_[0]->PacketsSent();
  ASSERT_TRUE(WaitUntil([&] { return amplifiers_[0]->PacketsSent() >= sent + 30; }));
  EXPECT_EQ(sink_.BlockCount(), 0u);
  amplifiers_[0]->SetTriggerLevel(1);
  ASSERT_TRUE(WaitUntil([&] { return sink_.BlockCount() >= 3 * 5; }, std::chrono::seconds(20)));
  const auto blocks = sink_.Blocks();
  EXPECT_LE(blocks.front().firstFrame, 0);
  EXPECT_GT(blocks.front().firstFrame, -16);
}

}  // namespace
}  // namespace torva
