// The definition registry: the log of a plugin's declarations, the definitions built from them,
// and every call out of order, duplicate definition and unreadable value refused with a text.

#include "host/definition_registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "fake_plugin.h"
#include "scripted_value.h"
#include "test_bytes.h"

namespace torva::host::test {
namespace {

using ::testing::ElementsAre;

const std::string kBlinkDescription =
    "Make the selected signal conditioner blink. The amber light will blink for ten seconds. ";
const std::string kResetUsbDescription =
    "This function resets the USB pipes from the PC to the signal conditioner for all connect "
    "signal conditioners.     Its only current use is resetting the data collection after a two "
    "second  data collection pause caused by an extended Genlock timeout.";
const std::string kSharedConfigDescription =
    "This is a placeholder device controlling settings       common to all Torva devices";

// Attributes as three bytes: first, second, third.
const Bytes kFirstAndSecond{1, 1, 0};
const Bytes kNoAttributes{0, 0, 0};

std::vector<Declaration> PlateLog() {
  const Bytes doubleType{3, 0, 0, 0};
  return {
      Declaration("DeclareDevice",
                  {"Torva", "TypeA", "V1.0",
                   "This device represents an Torva force plate/signal conditioner pair",
                   "ForcePlate", "", ""}),
      Declaration("DeclareParameter",
                  {"Connected", "Connected", "Indicates whether the device is connected", "Status"},
                  {0, 0, 0}, {1, 0, 0, 0, 0, 1, 1, 0}),
      Declaration("DeclareOutput", {"Force"}, {13}),
      Declaration("DeclareOutputComponent", {"Fx"}),
      Declaration("DeclareOutputComponent", {"Fy"}),
      Declaration("DeclareOutputComponent", {"Fz"}),
      Declaration("DeclareOutput", {"CoP"}, {1}),
      Declaration("DeclareOutputComponent", {"Cx"}),
      Declaration("DeclareOutputComponent", {"Cy"}),
      Declaration("DeclareOutputComponent", {"Cz"}),
      Declaration("DeclareParameter",
                  {"StandardDimension_X", "X", "Length of force plate in the X Axis (meters)",
                   "Dimensions"},
                  {1, 6, 0},
                  Join({doubleType,
                        {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xD9, 0x3F},
                        kFirstAndSecond,
                        kLowestDouble,
                        kHighestDouble,
                        {0}})),
      Declaration(
          "DeclareParameter",
          {"ParameterA", "a", "X displacement from sensor origin to force plate origin.", "Origin"},
          {1, 6, 0},
          Join({doubleType,
                {0, 0, 0, 0, 0, 0, 0, 0},
                kFirstAndSecond,
                kLowestDouble,
                kHighestDouble,
                {0}})),
      Declaration("DeclareParameter",
                  {"AmplifierSerial", "Amplifier Serial", "Amplifier Serial", "Amplifier"},
                  {1, 2, 0}, Join({{4, 0, 0, 0}, Sized(""), kFirstAndSecond})),
      Declaration("DeclareParameter", {"BlinkAction", "Blink", kBlinkDescription, "Amplifier"},
                  {1, 5, 0}, Join({{0, 0, 0, 0}, {0, 0, 0, 0}, kNoAttributes})),
      Declaration("DeclareSyncInput", {"Sync Port"}),
      Declaration("FinishDeclaration"),
  };
}

std::vector<Declaration> SharedConfigLog() {
  return {
      Declaration("DeclareDevice",
                  {"Torva", "Digital device common settings", "V1.0", kSharedConfigDescription,
                   "Shared Configuration", "Add Torva Helix/Vantor devices - BETA+9dbg", ""}),
      Declaration("DeclareParameter",
                  {"SyncMode", "Synchronization mode", "Synchronization mode", "Device collection"},
                  {1, 3, 0},
                  Join({{7, 0, 0, 0},
                        Sized("Software trigger"),
                        kNoAttributes,
                        {2, 0, 0, 0},
                        Sized("Software trigger"),
                        Sized("Hardware trigger")})),
      Declaration("DeclareParameter",
                  {"DataThreshold", "Fz Threshold", "Fz limit below which data are not collected.",
                   "Device collection"},
                  {1, 5, 0},
                  Join({{3, 0, 0, 0},
                        {0, 0, 0, 0, 0, 0, 0x34, 0x40},
                        kNoAttributes,
                        {0, 0, 0, 0, 0, 0, 0, 0},
                        {0, 0, 0, 0, 0, 0, 0x49, 0x40},
                        {1}})),
      Declaration("DeclareParameter",
                  {"BroadcastResetUSB", "Reset USB", kResetUsbDescription, "Device collection"},
                  {1, 0, 0}, Join({{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 1}})),
      Declaration("FinishDeclaration"),
  };
}

using DeclarationLog = HostTest;

TEST_F(DeclarationLog, EveryCallInOrderWithItsArgumentsAndValueBytes) {
  DefinitionRegistry registry;
  FakeSharedConfigDefinition sharedConfig;
  FakePlateDefinition plate;
  sharedConfig.Declare(&registry, true);
  plate.Declare(&registry, true);

  std::vector<Declaration> expected = SharedConfigLog();
  for (const Declaration& declaration : PlateLog()) expected.push_back(declaration);
  EXPECT_EQ(registry.Log(), expected);
  EXPECT_TRUE(sharedConfig.refusals.empty());
  EXPECT_TRUE(plate.refusals.empty());
}

TEST_F(DeclarationLog, BuildsTheDefinitionWithHostCopiesOfTheValues) {
  DefinitionRegistry registry;
  FakePlateDefinition plate;
  plate.Declare(&registry, true);

  ASSERT_EQ(registry.Definitions().size(), 1U);
  const DeviceDefinition* definition = registry.Find("Torva", "TypeA", "V1.0");
  ASSERT_NE(definition, nullptr);
  EXPECT_EQ(definition, registry.Definitions()[0]);
  EXPECT_EQ(definition->description,
            "This device represents an Torva force plate/signal conditioner pair");
  EXPECT_EQ(definition->category, "ForcePlate");
  EXPECT_EQ(definition->text1, "");
  EXPECT_EQ(definition->text2, "");
  ASSERT_EQ(definition->outputs.size(), 2U);
  EXPECT_EQ(definition->outputs[0].name, "Force");
  EXPECT_EQ(definition->outputs[0].code, 13);
  EXPECT_THAT(definition->outputs[0].components, ElementsAre("Fx", "Fy", "Fz"));
  EXPECT_EQ(definition->outputs[1].name, "CoP");
  EXPECT_EQ(definition->outputs[1].code, 1);
  EXPECT_THAT(definition->outputs[1].components, ElementsAre("Cx", "Cy", "Cz"));
  EXPECT_THAT(definition->syncInputs, ElementsAre("Sync Port"));

  // The plugin's value objects are gone: these are the host's own copies.
  struct ParameterRow {
    const char* name;
    const char* displayName;
    const char* group;
    bool declare;
    std::uint32_t idLow;
  };
  const ParameterRow rows[] = {
      {"Connected", "Connected", "Status", false, 0},
      {"StandardDimension_X", "X", "Dimensions", true, 6},
      {"ParameterA", "a", "Origin", true, 6},
      {"AmplifierSerial", "Amplifier Serial", "Amplifier", true, 2},
      {"BlinkAction", "Blink", "Amplifier", true, 5},
  };
  ASSERT_EQ(definition->parameters.size(), std::size(rows));
  for (std::size_t index = 0; index < std::size(rows); ++index) {
    const ParameterRow& row = rows[index];
    const ParameterDefinition& parameter = definition->parameters[index];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(parameter.name, row.name);
    EXPECT_EQ(parameter.displayName, row.displayName);
    EXPECT_EQ(parameter.group, row.group);
    EXPECT_EQ(parameter.declare, row.declare);
    EXPECT_EQ(parameter.id.low, row.idLow);
    EXPECT_EQ(parameter.id.high, 0U);
  }
  SDD::IParameterValueDouble dimension;
  dimension.SetValue(0.4);
  dimension.SetAttribute1(true);
  dimension.SetAttribute2(true);
  EXPECT_TRUE(dimension.Equals(*definition->FindParameter("StandardDimension_X")->value));
  EXPECT_EQ(definition->FindParameter("BlinkAction")->description, kBlinkDescription);
}

// Calls on a registry, each result's text kept in order ("" for accepted).
class Calls {
 public:
  explicit Calls(DefinitionRegistry& registry) : registry_(registry) {}

  void Device(const char* model = "TypeA", const char* version = "V1.0") {
    registry_.DeclareDevice(&result_, "Torva", model, version, "", "ForcePlate", "", "");
    Keep();
  }
  void Parameter(const char* name, SDD::IParameterValue* value) {
    registry_.DeclareParameter(&result_, name, name, "", "", true, value, 0, 0);
    Keep();
  }
  void Output(const char* name) {
    registry_.DeclareOutput(&result_, name, 13);
    Keep();
  }
  void Component(const char* name) {
    registry_.DeclareOutputComponent(&result_, name);
    Keep();
  }
  void SyncInput(const char* name) {
    registry_.DeclareSyncInput(&result_, name);
    Keep();
  }
  void Finish() {
    registry_.FinishDeclaration(&result_);
    Keep();
  }

  std::vector<std::string> texts;

 private:
  void Keep() { texts.push_back(TakeResult(result_)); }

  DefinitionRegistry& registry_;
  SDD::HostResult* result_ = nullptr;
};

struct OrderRow {
  const char* label;
  std::function<void(Calls&)> calls;
  std::vector<std::string> texts;
  std::size_t definitions;
};

using RefusedDeclarations = HostTest;

TEST_F(RefusedDeclarations, EachWithItsTextAndNoDefinitionChanged) {
  SDD::IParameterValueBool flag;
  ScriptedValue unknownType(2, {2, 0, 0, 0}, true);
  ScriptedValue failingCopy(1, {}, false);
  const std::string refusedDevice =
      "DeclareDevice while \"Torva\" \"TypeA\" \"V1.0\" is not finished";
  const std::vector<OrderRow> rows = {
      {"parameter first",
       [&](Calls& c) { c.Parameter("Connected", &flag); },
       {"DeclareParameter before any DeclareDevice"},
       0},
      {"output first",
       [](Calls& c) { c.Output("Force"); },
       {"DeclareOutput before any DeclareDevice"},
       0},
      {"component first",
       [](Calls& c) { c.Component("Fx"); },
       {"DeclareOutputComponent before any DeclareDevice"},
       0},
      {"sync input first",
       [](Calls& c) { c.SyncInput("Sync Port"); },
       {"DeclareSyncInput before any DeclareDevice"},
       0},
      {"finish first",
       [](Calls& c) { c.Finish(); },
       {"FinishDeclaration before any DeclareDevice"},
       0},
      {"component before any output",
       [](Calls& c) {
         c.Device();
         c.Component("Fx");
         c.Output("Force");
         c.Finish();
       },
       {"", "DeclareOutputComponent before any DeclareOutput", "", ""},
       1},
      {"second finish",
       [](Calls& c) {
         c.Device();
         c.Finish();
         c.Finish();
       },
       {"", "", "FinishDeclaration after FinishDeclaration"},
       1},
      {"anything after finish",
       [&](Calls& c) {
         c.Device();
         c.Finish();
         c.Parameter("Connected", &flag);
         c.Output("Force");
         c.Component("Fx");
         c.SyncInput("S");
       },
       {"", "", "DeclareParameter after FinishDeclaration", "DeclareOutput after FinishDeclaration",
        "DeclareOutputComponent after FinishDeclaration",
        "DeclareSyncInput after FinishDeclaration"},
       1},
      {"device while one is open",
       [](Calls& c) {
         c.Device();
         c.Device("TypeM");
         c.Finish();
       },
       {"", refusedDevice, ""},
       1},
      {"same maker, name and version twice",
       [&](Calls& c) {
         c.Device();
         c.Finish();
         c.Device();
         c.Parameter("Connected", &flag);
         c.Finish();
       },
       {"", "", "device \"Torva\" \"TypeA\" \"V1.0\" is already declared",
        "DeclareParameter for a device that was refused",
        "FinishDeclaration for a device that was refused"},
       1},
      {"another version is another definition",
       [](Calls& c) {
         c.Device("TypeA", "V1.0");
         c.Finish();
         c.Device("TypeA", "V1.1");
         c.Finish();
       },
       {"", "", "", ""},
       2},
      {"values the host cannot take",
       [&](Calls& c) {
         c.Device();
         c.Parameter("Missing", nullptr);
         c.Parameter("Odd", &unknownType);
         c.Parameter("Broken", &failingCopy);
         c.Parameter("Connected", &flag);
         c.Parameter("Connected", &flag);
         c.Finish();
       },
       {"", "parameter \"Missing\" has no value", "parameter \"Odd\" has a value of unknown type 2",
        "the value of parameter \"Broken\" could not be copied", "",
        "parameter \"Connected\" is already declared", ""},
       1},
  };
  for (const OrderRow& row : rows) {
    SCOPED_TRACE(row.label);
    DefinitionRegistry registry;
    Calls calls(registry);
    row.calls(calls);
    EXPECT_EQ(calls.texts, row.texts);
    EXPECT_EQ(registry.Definitions().size(), row.definitions);
    // The log keeps each call with the text it was refused with.
    const std::vector<Declaration> log = registry.Log();
    ASSERT_EQ(log.size(), row.texts.size());
    for (std::size_t index = 0; index < log.size(); ++index) {
      EXPECT_EQ(log[index].refusal, row.texts[index]) << log[index];
    }
  }
}

TEST_F(RefusedDeclarations, RefusedCallsLeaveTheDefinitionAsDeclared) {
  DefinitionRegistry registry;
  Calls calls(registry);
  SDD::IParameterValueBool flag;
  ScriptedValue failingCopy(1, {}, false);
  calls.Device();
  calls.Component("Fx");
  calls.Output("Force");
  calls.Component("Fx");
  calls.Parameter("Connected", &flag);
  calls.Parameter("Connected", &flag);
  calls.Parameter("Broken", &failingCopy);
  calls.Device("TypeM");
  calls.Finish();

  const DeviceDefinition* definition = registry.Find("Torva", "TypeA", "V1.0");
  ASSERT_NE(definition, nullptr);
  ASSERT_EQ(definition->outputs.size(), 1U);
  EXPECT_THAT(definition->outputs[0].components, ElementsAre("Fx"));
  ASSERT_EQ(definition->parameters.size(), 1U);
  EXPECT_EQ(definition->parameters[0].name, "Connected");
  EXPECT_EQ(registry.Find("Torva", "TypeM", "V1.0"), nullptr);
}

}  // namespace
}  // namespace torva::host::test
