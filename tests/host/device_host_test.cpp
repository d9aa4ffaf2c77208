// The device host: parameters read and written in their byte form, the changed-parameter set,
// frame blocks checked and delivered, and status notifications.

#include "host/device_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "host_fixture.h"

namespace torva::host::test {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

class DeviceHostTest : public HostWithDefinitions {
 protected:
  void SetUp() override {
    HostWithDefinitions::SetUp();
    ASSERT_EQ(InstantiatePlate(plate, "A1P1"), "");
    host = plate.host;
  }

  std::string Set(SDD::IParameterValue* value, const char* name) {
    SDD::HostResult* result = nullptr;
    host->SetParameter(&result, value, name, "");
    return TakeResult(result);
  }
  std::string Get(SDD::IParameterValue* value, const char* name) {
    SDD::HostResult* result = nullptr;
    host->GetParameter(&result, value, name, "");
    return TakeResult(result);
  }
  DeviceHost& Host() { return instantiator.Find("A1P1")->Host(); }

  FakeDevice plate;
  SDD::IDeviceHost* host = nullptr;
};

struct RoundTripRow {
  const char* name;
  std::function<std::unique_ptr<SDD::IParameterValue>()> written;
  std::function<std::unique_ptr<SDD::IParameterValue>()> fresh;
};

TEST_F(DeviceHostTest, SetParameterThenGetParameterGivesTheSameValue) {
  const RoundTripRow rows[] = {
      {"Connected",
       [] {
         auto value = std::make_unique<SDD::IParameterValueBool>();
         value->SetValue(true);
         value->SetAttribute1(true);
         return value;
       },
       [] { return std::make_unique<SDD::IParameterValueBool>(); }},
      {"ParameterA",
       [] {
         auto value = std::make_unique<SDD::IParameterValueDouble>();
         value->SetValue(-0.0127);
         value->SetMinimum(-1.0);
         value->SetRangeCheck(true);
         return value;
       },
       [] { return std::make_unique<SDD::IParameterValueDouble>(); }},
      {"AmplifierSerial",
       [] {
         auto value = std::make_unique<SDD::IParameterValueString>();
         value->SetValue("A1234");
         return value;
       },
       [] { return std::make_unique<SDD::IParameterValueString>(); }},
      {"BlinkAction",
       [] {
         auto value = std::make_unique<SDD::IParameterValueAction>();
         value->SetValue(7);
         return value;
       },
       [] { return std::make_unique<SDD::IParameterValueAction>(); }},
  };
  for (const RoundTripRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto written = row.written();
    EXPECT_EQ(Set(written.get(), row.name), "");
    const auto read = row.fresh();
    EXPECT_EQ(Get(read.get(), row.name), "");
    EXPECT_TRUE(written->Equals(*read));
  }
  // The plugin's own writes are not edits by the user.
  EXPECT_EQ(host->ChangedParameterCount(), 0U);
}

TEST_F(DeviceHostTest, UnknownNamesAndOtherTypesAreRefused) {
  SDD::IParameterValueBool flag;
  SDD::IParameterValueString text;
  text.SetValue("kept");
  struct Row {
    const char* label;
    std::function<std::string()> call;
    const char* text;
  };
  const Row rows[] = {
      {"get unknown", [&] { return Get(&flag, "Conected"); }, "unknown parameter \"Conected\""},
      {"set unknown", [&] { return Set(&flag, "Conected"); }, "unknown parameter \"Conected\""},
      {"set another type", [&] { return Set(&flag, "AmplifierSerial"); },
       "parameter \"AmplifierSerial\" is of type 4, not 1"},
      {"get into another type", [&] { return Get(&text, "Connected"); },
       "the setting of parameter \"Connected\" does not fit the value given (type 1)"},
      {"set no value", [&] { return Set(nullptr, "Connected"); },
       "parameter \"Connected\": no value given"},
      {"get no value", [&] { return Get(nullptr, "Connected"); },
       "parameter \"Connected\": no value given"},
      {"host sets another type",
       [&] { return Host().SetByHost("AmplifierSerial", flag).value_or(""); },
       "parameter \"AmplifierSerial\" is of type 4, not 1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.call(), row.text);
  }
  // Nothing refused was stored or marked changed.
  SDD::IParameterValueString serial;
  EXPECT_EQ(Get(&serial, "AmplifierSerial"), "");
  EXPECT_EQ(serial.GetValue(), "");
  EXPECT_EQ(host->ChangedParameterCount(), 0U);
}

TEST_F(DeviceHostTest, InstancesOfOneDefinitionKeepTheirOwnSettings) {
  SDD::IParameterValueString serial;
  serial.SetValue("A1");
  ASSERT_EQ(Set(&serial, "AmplifierSerial"), "");
  FakeDevice second;
  ASSERT_EQ(InstantiatePlate(second, "A2P2"), "");
  SDD::IParameterValueString read;
  SDD::HostResult* result = nullptr;
  second.host->GetParameter(&result, &read, "AmplifierSerial", "");
  EXPECT_EQ(TakeResult(result), "");
  EXPECT_EQ(read.GetValue(), "");
}

// Host edits: identifiers in order of first change, once each; "StandardDimension_X" and
// "ParameterA" share identifier 6.
void EditFour(DeviceHost& deviceHost) {
  SDD::IParameterValueAction blink;
  SDD::IParameterValueDouble offset;
  SDD::IParameterValueBool connected;
  ASSERT_EQ(deviceHost.SetByHost("BlinkAction", blink), std::nullopt);           // 5
  ASSERT_EQ(deviceHost.SetByHost("ParameterA", offset), std::nullopt);           // 6
  ASSERT_EQ(deviceHost.SetByHost("BlinkAction", blink), std::nullopt);           // 5 again
  ASSERT_EQ(deviceHost.SetByHost("StandardDimension_X", offset), std::nullopt);  // 6 again
  ASSERT_EQ(deviceHost.SetByHost("Connected", connected), std::nullopt);         // 0
}

std::vector<std::uint32_t> Lows(const SDD::ParameterId* ids, std::uint32_t count) {
  std::vector<std::uint32_t> lows;
  for (std::uint32_t index = 0; index < count; ++index) {
    EXPECT_EQ(ids[index].high, 0U);
    lows.push_back(ids[index].low);
  }
  return lows;
}

TEST_F(DeviceHostTest, ChangedParametersAreCountedReadInPartsAndRemoved) {
  EditFour(Host());
  EXPECT_EQ(host->ChangedParameterCount(), 3U);

  SDD::ParameterId ids[4];
  std::uint32_t key = 1;
  std::uint32_t count = 2;  // room for two only
  SDD::HostResult* result = nullptr;
  host->GetChangedParameters(&result, &key, ids, &count);
  EXPECT_EQ(TakeResult(result), "");
  EXPECT_EQ(count, 2U);
  EXPECT_THAT(Lows(ids, count), ElementsAre(5U, 6U));
  EXPECT_EQ(key, 2U);

  // Another edit after the count: at most the one left of those reported is written.
  SDD::IParameterValueString serial;
  ASSERT_EQ(Host().SetByHost("AmplifierSerial", serial), std::nullopt);  // 2
  count = 0;
  host->GetChangedParameters(&result, &key, ids, &count);
  EXPECT_EQ(TakeResult(result), "");
  EXPECT_THAT(Lows(ids, count), ElementsAre(0U));
  EXPECT_EQ(key, 3U);

  // Nothing is written before the next count.
  count = 0;
  host->GetChangedParameters(&result, &key, ids, &count);
  EXPECT_EQ(TakeResult(result), "");
  EXPECT_EQ(count, 0U);
  EXPECT_EQ(host->ChangedParameterCount(), 1U);
  count = 0;
  host->GetChangedParameters(&result, &key, ids, &count);
  EXPECT_THAT(Lows(ids, count), ElementsAre(2U));
  EXPECT_EQ(host->ChangedParameterCount(), 0U);

  // Without a count to write to, nothing is removed.
  ASSERT_EQ(Host().SetByHost("AmplifierSerial", serial), std::nullopt);
  EXPECT_EQ(host->ChangedParameterCount(), 1U);
  host->GetChangedParameters(&result, &key, ids, nullptr);
  EXPECT_EQ(TakeResult(result), "no count given for the changed parameters");
  count = 0;
  host->GetChangedParameters(&result, &key, nullptr, &count);
  EXPECT_EQ(TakeResult(result), "no room given for the changed parameters");
  EXPECT_EQ(count, 0U);
  EXPECT_EQ(host->ChangedParameterCount(), 1U);
}

TEST_F(DeviceHostTest, TheDeviceReadsTheChangesWhenToldOfThem) {
  EditFour(Host());
  plate.OnParametersChanged();
  EXPECT_THAT(Lows(plate.changedIds.data(), static_cast<std::uint32_t>(plate.changedIds.size())),
              ElementsAre(5U, 6U, 0U));
  EXPECT_EQ(plate.changeKey, 2U);
  plate.OnParametersChanged();
  EXPECT_EQ(plate.changedIds.size(), 3U);
}

// One block as the plates push it: 16 samples of Force (3) and CoP (3).
struct Push {
  SDD::CaptureHandle handle;
  std::uint32_t samples;
  std::vector<std::uint32_t> outputs;
  std::uint32_t valueCount;
  bool withValues;
  const char* text;
};

SDD::CaptureHandle Handle(std::uintptr_t number) {
  return reinterpret_cast<SDD::CaptureHandle>(number);
}

TEST_F(DeviceHostTest, PushedBlocksAreCheckedAgainstTheCaptureAndTheOutputs) {
  const std::vector<float> values(96, 1.5F);
  SDD::HostResult* result = nullptr;
  host->PushFrames(&result, Handle(7), 0, 16, std::vector<std::uint32_t>{0, 1}.data(), 2,
                   values.data(), 96);
  EXPECT_EQ(TakeResult(result), "frames pushed before any capture was prepared");

  plate.onPrepare = [](SDD::CaptureHandle, SDD::ICaptureSetup&) { return true; };
  ASSERT_TRUE(instantiator.Find("A1P1")->PrepareCapture(Handle(7)).accepted);
  const Push pushes[] = {
      {Handle(8), 16, {0, 1}, 96, true, "frames pushed with an unknown capture handle"},
      {Handle(7),
       16,
       {0, 1},
       95,
       true,
       "95 floats given for 16 samples of 6 components (96 expected)"},
      {Handle(7),
       16,
       {0},
       96,
       true,
       "96 floats given for 16 samples of 3 components (48 expected)"},
      {Handle(7), 16, {0, 2}, 96, true, "unknown output 2"},
      {Handle(7), 16, {1, 1}, 96, true, "output 1 listed twice"},
      {Handle(7), 16, {0, 1}, 96, false, "no frame values given"},
      {Handle(7),
       0x80000000U,
       {0, 1},
       0,
       true,
       "0 floats given for 2147483648 samples of 6 components (12884901888 expected)"},
      {Handle(7), 16, {0, 1}, 96, true, ""},
      {Handle(7), 16, {1}, 48, true, ""},
  };
  for (const Push& push : pushes) {
    SCOPED_TRACE(push.text);
    host->PushFrames(&result, push.handle, 4096, push.samples, push.outputs.data(),
                     static_cast<std::uint32_t>(push.outputs.size()),
                     push.withValues ? values.data() : nullptr, push.valueCount);
    EXPECT_EQ(TakeResult(result), push.text);
  }
  host->PushFrames(&result, Handle(7), 0, 16, nullptr, 2, values.data(), 96);
  EXPECT_EQ(TakeResult(result), "no output identifiers given");

  const std::vector<FrameBlock> blocks = sink.Blocks();
  ASSERT_EQ(blocks.size(), 2U);
  EXPECT_EQ(blocks[0].device, "A1P1");
  EXPECT_EQ(blocks[0].firstFrame, 4096);
  EXPECT_EQ(blocks[0].samples, 16U);
  EXPECT_THAT(blocks[0].outputs, ElementsAre(0U, 1U));
  EXPECT_EQ(blocks[0].values, values);
  EXPECT_THAT(blocks[1].outputs, ElementsAre(1U));
  EXPECT_EQ(blocks[1].values.size(), 48U);

  // A new capture retires the old handle.
  ASSERT_TRUE(instantiator.Find("A1P1")->PrepareCapture(Handle(9)).accepted);
  host->PushFrames(&result, Handle(7), 0, 16, std::vector<std::uint32_t>{1}.data(), 1,
                   values.data(), 48);
  EXPECT_EQ(TakeResult(result), "frames pushed with an unknown capture handle");
  EXPECT_EQ(sink.BlockCount(), 2U);
}

TEST_F(DeviceHostTest, StatusNotificationsWakeTheHostWhichThenReadsTheStatus) {
  DeviceInstance& instance = *instantiator.Find("A1P1");
  EXPECT_FALSE(Host().WaitForStatusChange(10ms));

  plate.state = 1;
  plate.needsPrepare = false;
  std::thread worker([&] { host->NotifyStatusChanged(); });
  EXPECT_TRUE(Host().WaitForStatusChange(10s));
  worker.join();
  const DeviceStatus status = instance.ReadStatus();
  EXPECT_EQ(status.state, 1);
  EXPECT_FALSE(status.needsPrepare);
  // Each notification is taken once.
  EXPECT_FALSE(Host().WaitForStatusChange(10ms));
  EXPECT_EQ(Host().StatusNotificationCount(), 1U);
}

}  // namespace
}  // namespace torva::host::test
