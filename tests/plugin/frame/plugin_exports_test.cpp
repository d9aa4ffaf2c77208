// The plugin's entry points as a host calls them, in order, out of order, twice and with null
// arguments; and the shipped library's symbol table.

#include "plugin/frame/plugin_exports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "driver/api/TorvaUSBDevice.h"
#include "host/host_services.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_bus.h"
#include "tests/plugin/devices/recording_host.h"
#include "tests/support/process_stats.h"
#include "tests/support/scaled_sleep_clock.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva {
namespace {

using ::testing::ElementsAre;
using testing::WaitUntil;

std::set<std::string> CommandWords(const std::string& command, int column) {
  std::set<std::string> words;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return words;
  char line[512];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::string text(line);
    std::size_t start = 0;
    for (int i = 0; i < column; ++i) start = text.find(' ', text.find_first_not_of(' ', start));
    std::string word = text.substr(text.find_first_not_of(' ', start));
    while (!word.empty() && (word.back() == '\n' || word.back() == ' ')) word.pop_back();
    words.insert(word);
  }
  return words;
}

TEST(PluginLibrary, ExportsItsSixEntryPointsAloneAndNeedsTheDriverLibrary) {
  const std::string library = TORVA_PLUGIN_LIBRARY_PATH;
  EXPECT_EQ(CommandWords("nm -D --defined-only '" + library + "' | awk '{print $3}'", 0),
            (std::set<std::string>{"BeginDeviceInstantiation", "Initialise",
                                   "OnManualDeviceInstantiation", "PluginAPIVersion",
                                   "ProvideDeviceDefinitions", "Shutdown"}));
  const auto needed = CommandWords(
      "readelf -d '" + library + "' | sed -n 's/.*Shared library: \\[\\(.*\\)\\]/\\1/p'", 0);
  EXPECT_EQ(needed.count(TORVA_DRIVER_SONAME), 1u);
}

class PluginEntryPoints : public testing::ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    std::filesystem::create_directories(Path("cfg"));
    Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path("cfg") + "/");
    sim::EmulatedBus::Instance().Install({sim::DescribeAmplifier(0, 100)});
  }
  void TearDown() override {
    Shutdown();
    EXPECT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    sim::EmulatedBus::Instance().Reset();
    ScratchDirectory::TearDown();
  }
  bool Traced(const std::string& text) const { return services_.Logged(text, 0); }

  testing::ScaledSleepClock clock_;
  host::HostServices services_;
  Torva::RecordingHost host_;
  Torva::RecordingInstantiator instantiator_{&host_};
};

TEST_F(PluginEntryPoints, CallsOutOfOrderOrWithNullArgumentsDoNothingAndTheFirstValidOneWorks) {
  EXPECT_EQ(PluginAPIVersion(), 1);
  // Nothing exists yet: none of these may touch anything.
  ProvideDeviceDefinitions(nullptr);
  BeginDeviceInstantiation(&instantiator_);
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V1.0");
  Shutdown();
  EXPECT_FALSE(Initialise(nullptr));
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V1.0");
  EXPECT_EQ(instantiator_.InstanceCount(), 0u);

  ASSERT_TRUE(Initialise(&services_));
  EXPECT_EQ(PluginAPIVersion(), 1);
  ProvideDeviceDefinitions(nullptr);
  // Before an instantiator, wrong names, letter case and null texts: nothing.
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V1.0");
  BeginDeviceInstantiation(&instantiator_);
  OnManualDeviceInstantiation("torva", "Digital device common settings", "V1.0");
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V2.0");
  OnManualDeviceInstantiation(nullptr, nullptr, nullptr);
  EXPECT_EQ(instantiator_.InstanceCount(), 0u);
  // The first valid request instantiates the shared device, once.
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V1.0");
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V1.0");
  // (The shared device's detection may already have added its plates after it.)
  const auto instances = instantiator_.Instances();
  const auto definitions = instantiator_.Definitions();
  ASSERT_FALSE(instances.empty());
  EXPECT_EQ(instances.front(), "Torva Shared Config Device");
  EXPECT_EQ(definitions.front(), "Digital device common settings");
  EXPECT_EQ(std::count(instances.begin(), instances.end(), "Torva Shared Config Device"), 1);
}

TEST_F(PluginEntryPoints, ASecondInitialiseKeepsWhatTheHostHoldsAndShutdownEndsTheDriver) {
  ASSERT_TRUE(Initialise(&services_));
  BeginDeviceInstantiation(&instantiator_);
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V1.0");
  // Attach started a detection: the plate is instantiated once it has run.
  ASSERT_TRUE(WaitUntil([&] { return instantiator_.InstanceCount() == 2; },
                        std::chrono::seconds(20)));
  // The warning goes to the services handed over with the call; the plugin keeps the first ones.
  host::HostServices second;
  ASSERT_TRUE(Initialise(&second));
  EXPECT_TRUE(second.Logged("Initialise called again: the plugin keeps running as it was", 2));
  EXPECT_FALSE(services_.Logged("Initialise called again: the plugin keeps running as it was", 2));
  OnManualDeviceInstantiation("Torva", "Digital device common settings", "V1.0");
  EXPECT_EQ(instantiator_.InstanceCount(), 2u);
  Shutdown();
  EXPECT_TRUE(Traced("::fmDLLShutDown"));
  EXPECT_EQ(fmIsDLLShutDown(), 1);
  Shutdown();  // twice: nothing
}

TEST_F(PluginEntryPoints, APluginNeverAskedToDetectMakesNoDriverCallAndLeavesNoThread) {
  const std::size_t threads = testing::ThreadBaseline();
  ASSERT_TRUE(Initialise(&services_));
  Shutdown();
  EXPECT_TRUE(services_.Lines().empty());
  EXPECT_TRUE(WaitUntil([&] { return testing::ThreadCount() == threads; }));
}

}  // namespace
}  // namespace torva
