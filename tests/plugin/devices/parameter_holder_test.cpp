// Parameter holders: every descriptor's texts, identifier and value, and deep copies.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "plugin/devices/plate_parameter_holder.h"
#include "plugin/devices/shared_config_parameter_holder.h"
#include "raw_byte_value.h"

namespace SabloDigitalDevice {
namespace {

using namespace Torva;

struct Row {
  std::string name, displayName, description, group;
  bool declare;
  std::uint32_t idLow, idHigh;
  Bytes value;  // byte form: kind, default, attributes and extra data
};

template <class Holder>
std::vector<Row> RowsOf(const Holder& holder) {
  std::vector<Row> rows;
  holder.ForEachParameter([&rows](const auto& d) {
    rows.push_back({d.name, d.displayName, d.description, d.group, d.declare, d.id.low,
                    d.id.high, ByteFormOf(d.value)});
  });
  return rows;
}

bool operator==(const Row& a, const Row& b) {
  return std::tie(a.name, a.displayName, a.description, a.group, a.declare, a.idLow, a.idHigh,
                  a.value) == std::tie(b.name, b.displayName, b.description, b.group, b.declare,
                                       b.idLow, b.idHigh, b.value);
}

void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name << " \"" << row.displayName << "\" \"" << row.description << "\" \""
       << row.group << "\" " << row.declare << " id " << row.idLow << ":" << row.idHigh
       << " value " << testing::PrintToString(row.value);
}

const Bytes kIdentity = {4, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0};
const Bytes kOrigin = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                       0xFF, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x7F, 0};
const Bytes kAction = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

TEST(PlateParameterHolder, EveryDescriptorInHolderOrder) {
  EXPECT_EQ(RowsOf(VGenericPlateParameterHolder()), std::vector<Row>({
      {"FirmwareVersion", "Firmware Version", "Firmware Version", "Amplifier", true, 0, 0,
       kIdentity},
      {"AmplifierModel", "Amplifier Model", "Amplifier Model", "Amplifier", true, 1, 0, kIdentity},
      {"AmplifierSerial", "Amplifier Serial", "Amplifier Serial", "Amplifier", true, 2, 0,
       kIdentity},
      {"PlatformModel", "Platform Model", "Platform Model", "Platform", true, 3, 0, kIdentity},
      {"PlatformSerial", "Platform Serial", "Platform Serial", "Platform", true, 4, 0, kIdentity},
      {"BlinkAction", "Blink",
       "Make the selected signal conditioner blink. The amber light will blink for ten seconds. ",
       "Amplifier", true, 5, 0, kAction},
      {"ParameterA", "a", "X displacement from sensor origin to force plate origin.", "Origin",
       true, 6, 0, kOrigin},
      {"ParameterB", "b", "Y displacement from sensor origin to force plate origin.", "Origin",
       true, 6, 0, kOrigin},
      {"ParameterAZ0", "az0", "Negative Z displacement from sensor origin to force plate surface.",
       "Origin", true, 6, 0, kOrigin},
  }));
}

TEST(SharedConfigParameterHolder, EveryDescriptorInHolderOrder) {
  const Bytes syncMode = Join({{7, 0, 0, 0}, Text("Software trigger"), {0, 0, 0}, {2, 0, 0, 0},
                               Text("Software trigger"), Text("Hardware trigger")});
  Bytes sampleRate = Join({{7, 0, 0, 0}, Text("1000"), {0, 0, 0}, {34, 0, 0, 0}});
  for (const char* rate : {"2000", "1800", "1500", "1200", "1000", "900", "800", "600", "500",
                           "450", "400", "360", "300", "250", "240", "225", "200", "180", "150",
                           "125", "120", "100", "90", "80", "75", "60", "50", "45", "40", "30",
                           "25", "20", "15", "10"}) {
    sampleRate = Join({sampleRate, Text(rate)});
  }
  const Bytes threshold = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x34, 0x40, 0, 0, 0, 0,
                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x49, 0x40, 1};
  EXPECT_EQ(RowsOf(VSharedConfigParameterHolder::Prototype()), std::vector<Row>({
      {"SyncMode", "Synchronization mode", "Synchronization mode", "Device collection", true, 3,
       0, syncMode},
      {"SampleRate", "Acquisition rate",
       "Broadcasts an acquisition rate, in datasets per second, to all connected signal "
       "conditioners.",
       "Device collection", true, 4, 0, sampleRate},
      {"DataThreshold", "Fz Threshold", "Fz limit below which data are not collected.",
       "Device collection", true, 5, 0, threshold},
      {"BroadcastZero", "Zero digital platforms",
       "Send a 'Zero' command to all of the signal conditioners. Calling this function doesn't "
       "interrupt data acquisition.",
       "Actions", true, 2, 0, kAction},
      {"BroadcastResetUSB", "Reset USB",
       "This function resets the USB pipes from the PC to the signal conditioner for all connect "
       "signal conditioners.     Its only current use is resetting the data collection after a "
       "two second  data collection pause caused by an extended Genlock timeout.",
       "Device collection", true, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"ScanForHardware", "Detect Torva digital devices",
       "Search for additional signal conditioners", "Plug-in", true, 1, 0, kAction},
  }));
}

TEST(ParameterHolders, ChangingACopyLeavesTheOriginal) {
  const VGenericPlateParameterHolder plate;
  VGenericPlateParameterHolder plateCopy = plate;
  plateCopy.AmplifierSerial.value.SetValue("A-1042");
  plateCopy.ParameterA.value.SetMinimum(-1.0);
  plateCopy.BlinkAction.name = "Changed";
  EXPECT_EQ(ByteFormOf(plateCopy.AmplifierSerial.value),
            Join({{4, 0, 0, 0}, Text("A-1042"), {1, 1, 0}}));
  EXPECT_EQ(RowsOf(plate), RowsOf(VGenericPlateParameterHolder()));

  const VSharedConfigParameterHolder& prototype = VSharedConfigParameterHolder::Prototype();
  VSharedConfigParameterHolder sharedCopy = prototype;
  sharedCopy.SampleRate.value.SetOptions({"500"});
  sharedCopy.SampleRate.value.SetValue("500");
  sharedCopy.DataThreshold.value.SetMaximum(10.0);
  sharedCopy.BroadcastResetUSB.value.SetAttribute3(false);
  sharedCopy.SyncMode.description.clear();
  EXPECT_EQ(ByteFormOf(sharedCopy.SampleRate.value),
            Join({{7, 0, 0, 0}, Text("500"), {0, 0, 0}, {1, 0, 0, 0}, Text("500")}));
  EXPECT_EQ(RowsOf(prototype), RowsOf(VSharedConfigParameterHolder()));
}

}  // namespace
}  // namespace SabloDigitalDevice
