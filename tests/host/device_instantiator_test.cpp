// The instantiator: definitions looked up by maker, name and version, instance names unique, the
// device attached once on the calling thread, parameters starting from the declared values.

#include "host/device_instantiator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "host_fixture.h"

namespace torva::host::test {
namespace {

using ::testing::ElementsAre;
using Instantiation = HostWithDefinitions;

TEST_F(Instantiation, UnknownDefinitionsAndMissingDevicesAreRefused) {
  struct Row {
    const char* maker;
    const char* name;
    const char* version;
    bool withDevice;
    const char* text;
  };
  const Row rows[] = {
      {"torva", "TypeA", "V1.0", true, "unknown definition \"torva\" \"TypeA\" \"V1.0\""},
      {"Torva", "TypeB", "V1.0", true, "unknown definition \"Torva\" \"TypeB\" \"V1.0\""},
      {"Torva", "TypeA", "V1.1", true, "unknown definition \"Torva\" \"TypeA\" \"V1.1\""},
      {nullptr, nullptr, nullptr, true, "unknown definition \"\" \"\" \"\""},
      {"Torva", "TypeA", "V1.0", false, "no device given"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    FakeDevice device;
    SDD::HostResult* result = nullptr;
    instantiator.Instantiate(&result, row.maker, row.name, row.version, "Plate 1",
                             row.withDevice ? &device : nullptr);
    EXPECT_EQ(TakeResult(result), row.text);
    EXPECT_EQ(device.attachCount, 0);
  }
  EXPECT_TRUE(instantiator.InstanceNames().empty());
}

TEST_F(Instantiation, AnInstanceNameInUseIsRefusedAndTheSecondDeviceNotAttached) {
  FakeDevice first;
  FakeDevice second;
  EXPECT_EQ(InstantiatePlate(first, "A1P1"), "");
  EXPECT_EQ(InstantiatePlate(second, "A1P1"), "instance name \"A1P1\" is already in use");
  SDD::HostResult* result = nullptr;
  instantiator.Instantiate(&result, "Torva", "Digital device common settings", "V1.0", "A1P1",
                           &second);
  EXPECT_EQ(TakeResult(result), "instance name \"A1P1\" is already in use");

  EXPECT_EQ(first.attachCount, 1);
  EXPECT_EQ(second.attachCount, 0);
  EXPECT_THAT(instantiator.InstanceNames(), ElementsAre("A1P1"));
  ASSERT_NE(instantiator.Find("A1P1"), nullptr);
  EXPECT_EQ(&instantiator.Find("A1P1")->Device(), &first);
  EXPECT_EQ(instantiator.Find("A1P2"), nullptr);
}

TEST_F(Instantiation, AttachesOnceOnTheCallingThreadBeforeReturning) {
  FakeDevice plate;
  FakeDevice sharedConfig;
  std::thread::id caller;
  std::string text = "not called";
  std::thread worker([&] {
    caller = std::this_thread::get_id();
    text = InstantiatePlate(plate, "A1P1");
    // Attached before Instantiate returned.
    EXPECT_EQ(plate.attachCount, 1);
  });
  worker.join();
  EXPECT_EQ(text, "");
  EXPECT_EQ(plate.attachCount, 1);
  EXPECT_EQ(plate.attachThread, caller);
  EXPECT_EQ(plate.host, &instantiator.Find("A1P1")->Host());

  SDD::HostResult* result = nullptr;
  instantiator.Instantiate(&result, "Torva", "Digital device common settings", "V1.0",
                           "Torva Shared Config Device", &sharedConfig);
  EXPECT_EQ(TakeResult(result), "");
  EXPECT_EQ(sharedConfig.attachCount, 1);
  EXPECT_NE(sharedConfig.host, plate.host);
  EXPECT_THAT(instantiator.InstanceNames(), ElementsAre("A1P1", "Torva Shared Config Device"));
}

TEST_F(Instantiation, ParametersStartFromTheDeclaredValues) {
  FakeDevice device;
  // The plugin reads "Connected" inside Attach, as the plate devices do.
  std::string connectedRead = "not read";
  SDD::IParameterValueBool connected;
  connected.SetValue(true);
  device.onAttach = [&](SDD::IDeviceHost& host) {
    SDD::HostResult* result = nullptr;
    host.GetParameter(&result, &connected, "Connected", "");
    connectedRead = TakeResult(result);
  };
  ASSERT_EQ(InstantiatePlate(device, "A1P1"), "");
  EXPECT_EQ(connectedRead, "");
  EXPECT_FALSE(connected.GetValue());
  EXPECT_TRUE(connected.GetAttribute1());
  EXPECT_TRUE(connected.GetAttribute2());
  EXPECT_FALSE(connected.GetAttribute3());

  DeviceHost& host = instantiator.Find("A1P1")->Host();
  SDD::IParameterValueDouble dimension;
  ASSERT_EQ(host.ReadByHost("StandardDimension_X", dimension), std::nullopt);
  EXPECT_EQ(dimension.GetValue(), 0.4);
  SDD::IParameterValueString serial;
  serial.SetValue("left over");
  ASSERT_EQ(host.ReadByHost("AmplifierSerial", serial), std::nullopt);
  EXPECT_EQ(serial.GetValue(), "");

  FakeDevice sharedConfig;
  SDD::HostResult* result = nullptr;
  instantiator.Instantiate(&result, "Torva", "Digital device common settings", "V1.0",
                           "Torva Shared Config Device", &sharedConfig);
  ASSERT_EQ(TakeResult(result), "");
  SDD::IParameterValueEnum syncMode;
  ASSERT_EQ(
      instantiator.Find("Torva Shared Config Device")->Host().ReadByHost("SyncMode", syncMode),
      std::nullopt);
  EXPECT_EQ(syncMode.GetValue(), "Software trigger");
  EXPECT_THAT(syncMode.GetOptions(), ElementsAre("Software trigger", "Hardware trigger"));
}

}  // namespace
}  // namespace torva::host::test
