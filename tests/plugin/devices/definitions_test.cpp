// Plate and shared-configuration definitions as the host sees them: every call on the registry with
// its texts, flags, identifiers and the value's byte form, and the calls left out when the host
// refuses an output or a dimension.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "plugin/devices/plate_definition.h"
#include "plugin/devices/plate_definitions.h"
#include "plugin/devices/shared_config_definition.h"
#include "raw_byte_value.h"

namespace SabloDigitalDevice {
namespace {

using namespace Torva;
using Log = std::vector<std::string>;

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

// The eight bytes of a double, least significant first.
std::string DoubleHex(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  Bytes bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  return Hex(bytes);
}

class CountedResult final : public HostResult {
 public:
  const char* Text() const override { return "refused"; }
  void AddReference() override { ++references; }
  void Release() override { ++releases; }
  int references = 1;
  int releases = 0;
};

// Records every call as one line; hands back a result for each call whose line starts with one of
// the refused prefixes (or for every call), and checks that each result is released exactly once.
class RecordingRegistry final : public IDefinitionRegistry {
 public:
  ~RecordingRegistry() {
    for (const CountedResult& result : results) EXPECT_EQ(result.releases, result.references);
  }

  void DeclareDevice(HostResult** result, const char* maker, const char* model,
                     const char* version, const char* description, const char* kind,
                     const char* text1, const char* text2) override {
    Record(result, "DeclareDevice " + Quoted(maker) + " " + Quoted(model) + " " +
                       Quoted(version) + " " + Quoted(description) + " " + Quoted(kind) + " " +
                       Quoted(text1) + " " + Quoted(text2));
  }
  void DeclareParameter(HostResult** result, const char* name, const char* displayName,
                        const char* description, const char* group, bool declare,
                        IParameterValue* value, std::uint32_t idLow,
                        std::uint32_t idHigh) override {
    RawByteValue form;
    const bool copied = value != nullptr && value->CopyTo(form);
    Record(result, "DeclareParameter " + Quoted(name) + " " + Quoted(displayName) + " " +
                       Quoted(description) + " " + Quoted(group) + " " +
                       (declare ? "1 " : "0 ") + (copied ? Hex(form.bytes) : "no value") + " " +
                       std::to_string(idLow) + ":" + std::to_string(idHigh));
  }
  void DeclareSyncInput(HostResult** result, const char* name) override {
    Record(result, "DeclareSyncInput " + Quoted(name));
  }
  void DeclareOutput(HostResult** result, const char* name, int code) override {
    Record(result, "DeclareOutput " + Quoted(name) + " " + std::to_string(code));
  }
  void DeclareOutputComponent(HostResult** result, const char* name) override {
    Record(result, "DeclareOutputComponent " + Quoted(name));
  }
  void Reserved5() override { log.push_back("Reserved5"); }
  void FinishDeclaration(HostResult** result) override { Record(result, "FinishDeclaration"); }

  Log log;
  std::set<std::string> refusedPrefixes;
  bool refuseAll = false;
  std::deque<CountedResult> results;

 private:
  static std::string Quoted(const char* text) {
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
  }
  void Record(HostResult** result, const std::string& line) {
    log.push_back(line);
    if (result == nullptr) {
      ADD_FAILURE() << "no result argument: " << line;
      return;
    }
    if (*result != nullptr) ADD_FAILURE() << "result not cleared before: " << line;
    bool refused = refuseAll;
    for (const std::string& prefix : refusedPrefixes) {
      refused = refused || line.compare(0, prefix.size(), prefix) == 0;
    }
    *result = refused ? &results.emplace_back() : nullptr;
  }
};

Log Declared(IDeviceDefinition& definition, bool includeBlink) {
  RecordingRegistry registry;
  definition.Declare(&registry, includeBlink);
  return registry.log;
}

const std::string kFullRangeHex = "FFFFFFFFFFFFEFFF" "FFFFFFFFFFFFEF7F";
const std::string kIdentityHex = "04000000" "00000000" "010100";
const std::string kActionHex = "00000000" "00000000" "000000";
const std::string kOriginHex = "03000000" "0000000000000000" "010100" + kFullRangeHex + "00";

std::string DimensionHex(double metres) {
  return "03000000" + DoubleHex(metres) + "010100" + kFullRangeHex + "00";
}

Log ExpectedPlateLog(const std::string& model, double dimensionX, double dimensionY,
                     bool withBlink) {
  Log log = {
      "DeclareDevice \"Torva\" \"" + model +
          "\" \"V1.0\" \"This device represents an Torva force plate/signal conditioner pair\" "
          "\"ForcePlate\" \"\" \"\"",
      "DeclareParameter \"Connected\" \"Connected\" \"Indicates whether the device is connected\" "
      "\"Status\" 0 0100000000010100 0:0",
      "DeclareOutput \"Force\" 13",
      "DeclareOutputComponent \"Fx\"",
      "DeclareOutputComponent \"Fy\"",
      "DeclareOutputComponent \"Fz\"",
      "DeclareOutput \"Moment\" 14",
      "DeclareOutputComponent \"Mx\"",
      "DeclareOutputComponent \"My\"",
      "DeclareOutputComponent \"Mz\"",
      "DeclareOutput \"CoP\" 1",
      "DeclareOutputComponent \"Cx\"",
      "DeclareOutputComponent \"Cy\"",
      "DeclareOutputComponent \"Cz\"",
      "DeclareParameter \"StandardDimension_X\" \"X\" \"Length of force plate in the X Axis "
      "(meters)\" \"Dimensions\" 1 " + DimensionHex(dimensionX) + " 6:0",
      "DeclareParameter \"StandardDimension_Y\" \"Y\" \"Length of force plate in the Y Axis "
      "(meters)\" \"Dimensions\" 1 " + DimensionHex(dimensionY) + " 0:0",
      "DeclareParameter \"ParameterA\" \"a\" \"X displacement from sensor origin to force plate "
      "origin.\" \"Origin\" 1 " + kOriginHex + " 6:0",
      "DeclareParameter \"ParameterB\" \"b\" \"Y displacement from sensor origin to force plate "
      "origin.\" \"Origin\" 1 " + kOriginHex + " 6:0",
      "DeclareParameter \"ParameterAZ0\" \"az0\" \"Negative Z displacement from sensor origin to "
      "force plate surface.\" \"Origin\" 1 " + kOriginHex + " 6:0",
      "DeclareParameter \"AmplifierModel\" \"Amplifier Model\" \"Amplifier Model\" \"Amplifier\" "
      "1 " + kIdentityHex + " 1:0",
      "DeclareParameter \"AmplifierSerial\" \"Amplifier Serial\" \"Amplifier Serial\" "
      "\"Amplifier\" 1 " + kIdentityHex + " 2:0",
      "DeclareParameter \"PlatformModel\" \"Platform Model\" \"Platform Model\" \"Platform\" 1 " +
          kIdentityHex + " 3:0",
      "DeclareParameter \"PlatformSerial\" \"Platform Serial\" \"Platform Serial\" \"Platform\" "
      "1 " + kIdentityHex + " 4:0",
      "DeclareParameter \"FirmwareVersion\" \"Firmware Version\" \"Firmware Version\" "
      "\"Amplifier\" 1 " + kIdentityHex + " 0:0",
  };
  if (withBlink) {
    log.push_back(
        "DeclareParameter \"BlinkAction\" \"Blink\" \"Make the selected signal conditioner blink. "
        "The amber light will blink for ten seconds. \" \"Amplifier\" 1 " + kActionHex + " 5:0");
  }
  log.push_back("DeclareSyncInput \"Sync Port\"");
  log.push_back("FinishDeclaration");
  return log;
}

struct PlateRow {
  const char* model;
  double dimensionX, dimensionY;
  bool declaredWithBlink;
  std::function<std::unique_ptr<VTorvaGenericPlateDefinition>()> make;
};

template <class Definition>
std::function<std::unique_ptr<VTorvaGenericPlateDefinition>()> Make() {
  return [] { return std::make_unique<Definition>(); };
}

// In the plugin's declaration order.
const std::vector<PlateRow>& PlateRows() {
  static const std::vector<PlateRow> rows = {
      {"TypeA", 0.4, 0.6, true, Make<VTorva_TypeA_PlateDefinition>()},
      {"TypeM", 0.464, 0.508, true, Make<VTorva_TypeM_PlateDefinition>()},
      {"TypeL", 0.464, 0.508, true, Make<VTorva_TypeL_PlateDefinition>()},
      {"TypeB", 0.464, 0.508, true, Make<VTorva_TypeB_PlateDefinition>()},
      {"TypeJ", 0.498, 0.498, false, Make<VTorva_TypeJ_PlateDefinition>()},
      {"TypeC", 0.6, 0.6, true, Make<VTorva_TypeC_PlateDefinition>()},
      {"TypeD", 0.6, 0.9, true, Make<VTorva_TypeD_PlateDefinition>()},
      {"TypeE", 0.6, 1.2, true, Make<VTorva_TypeE_PlateDefinition>()},
      {"TypeF", 0.603, 0.9, true, Make<VTorva_TypeF_PlateDefinition>()},
      {"TypeG", 0.9, 0.9, true, Make<VTorva_TypeG_PlateDefinition>()},
      {"TypeH", 1.2, 1.2, true, Make<VTorva_TypeH_PlateDefinition>()},
      {"TypeK", 0.61, 0.711, true, Make<VTorva_TypeK_PlateDefinition>()},
      {"Force plate", 0.5, 0.5, true, Make<VTorvaGenericPlateDefinition>()},
  };
  return rows;
}

TEST(PlateDefinition, EveryClassAndItsCopyDeclareModelAndDimensions) {
  for (const PlateRow& row : PlateRows()) {
    SCOPED_TRACE(row.model);
    const std::unique_ptr<VTorvaGenericPlateDefinition> definition = row.make();
    EXPECT_EQ(Declared(*definition, true), ExpectedPlateLog(row.model, row.dimensionX,
                                                            row.dimensionY, true));
    EXPECT_EQ(Declared(*definition, false), ExpectedPlateLog(row.model, row.dimensionX,
                                                             row.dimensionY, false));
    // A plate device declares nothing, but it keeps a copy of its definition as the generic class.
    VTorvaGenericPlateDefinition copy = *definition;
    EXPECT_EQ(Declared(copy, true), ExpectedPlateLog(row.model, row.dimensionX, row.dimensionY,
                                                     true));
    EXPECT_EQ(copy.syncInputName, "Sync Port");
  }
}

TEST(PlateDefinition, PluginDeclaresThirteenInOrderAndTypeJWithoutBlink) {
  RecordingRegistry registry;
  DeclarePlateDefinitions(&registry);
  std::vector<Log> perDefinition;
  for (const std::string& line : registry.log) {
    if (line.rfind("DeclareDevice ", 0) == 0) perDefinition.emplace_back();
    ASSERT_FALSE(perDefinition.empty()) << line;
    perDefinition.back().push_back(line);
  }
  ASSERT_EQ(perDefinition.size(), PlateRows().size());
  for (std::size_t i = 0; i < perDefinition.size(); ++i) {
    const PlateRow& row = PlateRows()[i];
    SCOPED_TRACE(row.model);
    EXPECT_EQ(perDefinition[i], ExpectedPlateLog(row.model, row.dimensionX, row.dimensionY,
                                                 row.declaredWithBlink));
  }
}

// The full generic log without the lines that start with any of the given prefixes.
Log GenericLogWithout(const std::vector<std::string>& prefixes) {
  Log log;
  for (const std::string& line : ExpectedPlateLog("Force plate", 0.5, 0.5, true)) {
    bool dropped = false;
    for (const std::string& prefix : prefixes) dropped = dropped || line.rfind(prefix, 0) == 0;
    if (!dropped) log.push_back(line);
  }
  return log;
}

TEST(PlateDefinition, RefusedOutputOrDimensionLeavesOutWhatDependsOnIt) {
  struct Row {
    const char* what;
    std::vector<std::string> refused;
    std::vector<std::string> leftOut;
  };
  const std::vector<Row> rows = {
      {"force output", {"DeclareOutput \"Force\""},
       {"DeclareOutputComponent \"Fx\"", "DeclareOutputComponent \"Fy\"",
        "DeclareOutputComponent \"Fz\""}},
      {"moment component My", {"DeclareOutputComponent \"My\""}, {"DeclareOutputComponent \"Mz\""}},
      {"first CoP component", {"DeclareOutputComponent \"Cx\""},
       {"DeclareOutputComponent \"Cy\"", "DeclareOutputComponent \"Cz\""}},
      {"last force component", {"DeclareOutputComponent \"Fz\""}, {}},
      {"X dimension", {"DeclareParameter \"StandardDimension_X\""},
       {"DeclareParameter \"StandardDimension_Y\""}},
      {"Y dimension", {"DeclareParameter \"StandardDimension_Y\""}, {}},
      {"device, status, parameters and sync input",
       {"DeclareDevice", "DeclareParameter \"Connected\"", "DeclareParameter \"ParameterA\"",
        "DeclareParameter \"BlinkAction\"", "DeclareSyncInput"},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    VTorvaGenericPlateDefinition definition;
    RecordingRegistry registry;
    registry.refusedPrefixes.insert(row.refused.begin(), row.refused.end());
    definition.Declare(&registry, true);
    EXPECT_EQ(registry.log, GenericLogWithout(row.leftOut));
  }
}

TEST(PlateDefinition, EveryCallRefusedLeavesOutComponentsAndYAndReleasesEveryResult) {
  VTorvaGenericPlateDefinition definition;
  RecordingRegistry registry;
  registry.refuseAll = true;
  definition.Declare(&registry, true);
  EXPECT_EQ(registry.log, GenericLogWithout({"DeclareOutputComponent",
                                             "DeclareParameter \"StandardDimension_Y\""}));
  // One result per call, each checked for one release when the registry goes.
  EXPECT_EQ(registry.results.size(), registry.log.size());
}

Log ExpectedSharedConfigLog() {
  Bytes sampleRate = Join({{7, 0, 0, 0}, Text("1000"), {0, 0, 0}, {34, 0, 0, 0}});
  for (const char* rate : {"2000", "1800", "1500", "1200", "1000", "900", "800", "600", "500",
                           "450", "400", "360", "300", "250", "240", "225", "200", "180", "150",
                           "125", "120", "100", "90", "80", "75", "60", "50", "45", "40", "30",
                           "25", "20", "15", "10"}) {
    sampleRate = Join({sampleRate, Text(rate)});
  }
  const Bytes syncMode = Join({{7, 0, 0, 0}, Text("Software trigger"), {0, 0, 0}, {2, 0, 0, 0},
                               Text("Software trigger"), Text("Hardware trigger")});
  const std::string threshold = "03000000" + DoubleHex(20.0) + "000000" + DoubleHex(0.0) +
                                DoubleHex(50.0) + "01";
  return {
      "DeclareDevice \"Torva\" \"Digital device common settings\" \"V1.0\" \"This is a "
      "placeholder device controlling settings       common to all Torva devices\" \"Shared "
      "Configuration\" \"Add Torva Helix/Vantor devices - BETA+9dbg\" \"\"",
      "DeclareParameter \"SampleRate\" \"Acquisition rate\" \"Broadcasts an acquisition rate, in "
      "datasets per second, to all connected signal conditioners.\" \"Device collection\" 1 " +
          Hex(sampleRate) + " 4:0",
      "DeclareParameter \"SyncMode\" \"Synchronization mode\" \"Synchronization mode\" \"Device "
      "collection\" 1 " + Hex(syncMode) + " 3:0",
      "DeclareParameter \"DataThreshold\" \"Fz Threshold\" \"Fz limit below which data are not "
      "collected.\" \"Device collection\" 1 " + threshold + " 5:0",
      "DeclareParameter \"BroadcastZero\" \"Zero digital platforms\" \"Send a 'Zero' command to "
      "all of the signal conditioners. Calling this function doesn't interrupt data "
      "acquisition.\" \"Actions\" 1 " + kActionHex + " 2:0",
      "DeclareParameter \"BroadcastResetUSB\" \"Reset USB\" \"This function resets the USB pipes "
      "from the PC to the signal conditioner for all connect signal conditioners.     Its only "
      "current use is resetting the data collection after a two second  data collection pause "
      "caused by an extended Genlock timeout.\" \"Device collection\" 1 "
      "0000000000000000000001 0:0",
      "DeclareParameter \"ScanForHardware\" \"Detect Torva digital devices\" \"Search for "
      "additional signal conditioners\" \"Plug-in\" 1 " + kActionHex + " 1:0",
      "FinishDeclaration",
  };
}

TEST(SharedConfigDefinition, DeclaresDeviceAndSixParametersWhateverTheBlinkFlag) {
  VSharedConfigDefinition definition;
  EXPECT_EQ(Declared(definition, true), ExpectedSharedConfigLog());
  EXPECT_EQ(Declared(definition, false), ExpectedSharedConfigLog());
  EXPECT_EQ(definition.maker, "Torva");
  EXPECT_EQ(definition.name, "Digital device common settings");
  EXPECT_EQ(definition.version, "V1.0");
  RecordingRegistry refusing;
  refusing.refuseAll = true;
  definition.Declare(&refusing, true);
  EXPECT_EQ(refusing.log, ExpectedSharedConfigLog());
  EXPECT_EQ(refusing.results.size(), refusing.log.size());
}

TEST(Definitions, NullRegistryDeclaresNothing) {
  VTorvaGenericPlateDefinition plate;
  plate.Declare(nullptr, true);
  VSharedConfigDefinition shared;
  shared.Declare(nullptr, true);
}

}  // namespace
}  // namespace SabloDigitalDevice
