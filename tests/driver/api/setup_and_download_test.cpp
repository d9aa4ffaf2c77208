// The saved setup and smart-plate downloads through the exported functions, on emulated
// amplifiers with machine settings of the test's own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "driver/device/amplifier_device.h"
#include "driver/device/crc16_arc.h"
#include "tests/support/emulated_library.h"

namespace torva {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::EmulatedLibrary;
using testing::WaitUntil;

class SetupCheck : public EmulatedLibrary {
 protected:
  std::string SetupFile() const { return ConfigurationDirectory() + "TorvaUsbSetup.cfg"; }
  // Brings the library up on the given amplifiers. The bring-up reports complete only once the
  // setup check has run and its order is in force, so a caller may start at once.
  void BringUpAndCheck(const std::vector<sim::AmplifierDescription>& amplifiers) {
    BringUp(amplifiers);
    ASSERT_NE(fmDLLSetupCheck(), 0);
  }
  void Restart(const std::vector<sim::AmplifierDescription>& amplifiers) {
    fmDLLShutDown();
    ASSERT_TRUE(WaitUntil([] { return fmIsDLLShutDown() == 1; }));
    BringUpAndCheck(amplifiers);
  }
  std::vector<int> Order() {
    std::vector<int> order(static_cast<std::size_t>(fmDLLGetDeviceCount()));
    fmDLLGetPlatformOrder(order.data());
    return order;
  }
  std::string ErrorText() {
    char text[TORVA_ERROR_TEXT_BYTES] = {};
    fmDLLGetError(text);
    return text;
  }
  void WriteSetup(const std::string& text) { WriteFile(SetupFile(), text); }
  // A saved setup naming amplifiers by their serials, in the given order.
  std::string SavedSetupOf(const std::vector<sim::AmplifierDescription>& amplifiers,
                           int version = 101) {
    std::string text = std::to_string(version) + "\r\n" + std::to_string(amplifiers.size()) +
                       "\r\n1000\r\n0\r\n0\r\n";
    for (const auto& a : amplifiers)
      text += a.amplifierSerial + "\r\n" + a.amplifierModel + "\r\n" + a.platformSerial + "\r\n" +
              a.platformModel + "\r\n";
    return text;
  }

  const sim::AmplifierDescription a_ = sim::DescribeAmplifier(0, 100);
  const sim::AmplifierDescription b_ = sim::DescribeAmplifier(1, 100);
  const sim::AmplifierDescription c_ = sim::DescribeAmplifier(2, 100);
};

TEST_F(SetupCheck, ASavedSetupOfThreeHasSeventeenLinesAndMatchesAtTheNextStart) {
  BringUpAndCheck({a_, b_, c_});
  EXPECT_EQ(fmDLLSetupCheck(), 211);  // nothing saved yet
  int swap[3] = {2, 0, 1};
  fmDLLSetPlatformOrder(swap);
  ASSERT_EQ(fmDLLSaveConfiguration(), 1);
  const std::string text = ReadFile(SetupFile());
  int lines = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
    ++lines;
  EXPECT_EQ(lines, 5 + 12);
  EXPECT_EQ(text.rfind("101\r\n3\r\n", 0), 0u);

  Restart({a_, b_, c_});
  EXPECT_EQ(fmDLLSetupCheck(), 1) << ErrorText();
  EXPECT_THAT(Order(), ElementsAre(2, 0, 1));
}

TEST_F(SetupCheck, AnExtraAmplifierFollowsTheSavedOrderAndIsReported) {
  WriteSetup(SavedSetupOf({b_, a_}));
  BringUpAndCheck({a_, b_, c_});
  EXPECT_EQ(fmDLLSetupCheck(), 214);
  EXPECT_THAT(Order(), ElementsAre(1, 0, 2));
  EXPECT_EQ(ErrorText(),
            " ErrorCode: 214 ErrorMessage: Signal conditioner count does not match saved "
            "configuration");
}

TEST_F(SetupCheck, AMissingAmplifierIsReported) {
  WriteSetup(SavedSetupOf({a_, b_, c_}));
  BringUpAndCheck({a_, b_});
  EXPECT_EQ(fmDLLSetupCheck(), 214);
  EXPECT_THAT(Order(), ElementsAre(0, 1));
  EXPECT_THAT(ErrorText(), HasSubstr("Signal conditioner count does not match"));
}

TEST_F(SetupCheck, ACorruptCountOrWrongVersionOrNoFileIsReported) {
  WriteSetup("101\r\n30\r\n1000\r\n0\r\n0\r\n");
  BringUpAndCheck({a_, b_});
  EXPECT_EQ(fmDLLSetupCheck(), 214);
  EXPECT_THAT(ErrorText(), HasSubstr("Configuration file amplifier count is corrupt"));
  EXPECT_THAT(Order(), ElementsAre(0, 1));

  WriteSetup(SavedSetupOf({a_, b_}, 100));
  Restart({a_, b_});
  EXPECT_EQ(fmDLLSetupCheck(), 213);
  EXPECT_EQ(ErrorText(), " ErrorCode: 213 ErrorMessage: Helix configuration file incorrect version");

  std::remove(SetupFile().c_str());
  Restart({a_, b_});
  EXPECT_EQ(fmDLLSetupCheck(), 211);
  EXPECT_EQ(ErrorText(), " ErrorCode: 211 ErrorMessage: Helix configuration file not found");
}

TEST_F(SetupCheck, LineFeedFilesAndSixteenCharacterSerialsMatch) {
  sim::AmplifierDescription longSerial = a_;
  longSerial.amplifierSerial = "TA60SIXTEENCHARS";
  ASSERT_EQ(longSerial.amplifierSerial.size(), 16u);
  BringUpAndCheck({longSerial, b_});
  ASSERT_EQ(fmDLLSaveConfiguration(), 1);
  Restart({longSerial, b_});
  EXPECT_EQ(fmDLLSetupCheck(), 1);

  std::string text = SavedSetupOf({b_, longSerial});
  for (std::size_t at; (at = text.find('\r')) != std::string::npos;) text.erase(at, 1);
  WriteSetup(text);
  Restart({longSerial, b_});
  EXPECT_EQ(fmDLLSetupCheck(), 1);
  EXPECT_THAT(Order(), ElementsAre(1, 0));
}

TEST_F(SetupCheck, TheSavedSettingsAreThoseOfTheAmplifierInSlotZero) {
  sim::AmplifierDescription slow = a_;
  slow.acquisitionRate = 500;
  sim::AmplifierDescription fast = b_;
  fast.acquisitionRate = 2000;
  BringUpAndCheck({slow, fast});
  int swap[2] = {1, 0};
  fmDLLSetPlatformOrder(swap);
  ASSERT_THAT(Order(), ElementsAre(1, 0));
  ASSERT_EQ(fmDLLSaveConfiguration(), 1);
  EXPECT_EQ(ReadFile(SetupFile()).rfind("101\r\n2\r\n500\r\n", 0), 0u) << ReadFile(SetupFile());
}

TEST_F(SetupCheck, ASaveThatCannotBeWrittenFailsWithItsMessage) {
  BringUpAndCheck({a_});
  std::filesystem::remove_all(ConfigurationDirectory());
  WriteFile(Path("cfg"), "a file where the directory was");
  EXPECT_EQ(fmDLLSaveConfiguration(), 0);
  EXPECT_THAT(ErrorText(), HasSubstr("ErrorMessage: Failure to save configuration file"));
}

TEST_F(SetupCheck, ARefreshCompletesWithoutANewSetupCheck) {
  BringUpAndCheck({a_, b_});
  const int status = fmDLLSetupCheck();
  fmRefreshDLL();
  ASSERT_TRUE(WaitUntil([] { return fmIsDLLRefreshComplete() == 1; }));
  EXPECT_EQ(fmIsDLLRefreshComplete(), 1);  // stays complete while polled
  EXPECT_EQ(fmDLLSetupCheck(), status);
  EXPECT_EQ(fmDLLIsDeviceInitComplete(), 2);
}

TEST(DeviceCount, CountsAmplifiersOfBothProductsWithoutTheLibrary) {
  sim::AmplifierDescription product200 = sim::DescribeAmplifier(0, 100);
  product200.productId = kAmplifierProductId200;
  sim::AmplifierDescription other = sim::DescribeAmplifier(1, 100);
  other.productId = 0x0101;
  other.speaksAmplifierProtocol = false;
  sim::EmulatedBus::Instance().Install({product200, sim::DescribeAmplifier(2, 300), other});
  EXPECT_EQ(fmDLLConfurmDeviceCount(), 2);
  sim::EmulatedBus::Instance().Reset();
}

// --- Calibration downloads -------------------------------------------------------------------

class CalibrationDownload : public EmulatedLibrary {
 protected:
  static sim::AmplifierDescription SmartPlate(int index, std::int32_t type, std::int32_t status) {
    sim::AmplifierDescription plate = sim::DescribeAmplifier(index, type);
    plate.smartPlateStatus = status;
    return plate;
  }
  // A calibration file of `bytes` bytes for a plate, its first word the product type.
  void WriteCalibration(const sim::AmplifierDescription& plate, std::int32_t fileType,
                        std::size_t bytes) {
    std::vector<std::uint8_t> file(bytes);
    for (std::size_t i = 0; i < bytes; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::int32_t header[2] = {fileType, 4};  // product type, version
    if (bytes > 0) std::memcpy(file.data(), header, std::min(bytes, sizeof header));
    calibration_ = file;
    WriteFile(CalibrationDirectory() + plate.platformSerial + ".bcf",
              std::string(file.begin(), file.end()));
  }
  std::vector<std::uint8_t> calibration_;
};

constexpr std::int32_t kNeedsDownload = 3;
constexpr std::int32_t kCalibrated = 1;

TEST_F(CalibrationDownload, ThePlateCheckDownloadsAFileAndTheBringUpWaitsForIt) {
  const auto plate = SmartPlate(0, 300, kNeedsDownload);
  WriteCalibration(plate, 300, 2047);
  BringUp({plate, sim::DescribeAmplifier(1, 100)});
  fmDLLSelectDeviceIndex(0);
  EXPECT_EQ(fmIsVantorDownloadComplete(), 1);
  std::vector<std::uint8_t> stream = calibration_;
  const std::uint16_t crc = Crc16Arc(stream.data(), stream.size());
  stream.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  stream.push_back(static_cast<std::uint8_t>(crc >> 8));
  EXPECT_EQ(Amplifier(0).ReceivedCalibration(), stream);
  EXPECT_EQ(Amplifier(0).Memory().smartPlateStatus, kCalibrated);
  int listed[25];
  EXPECT_EQ(fmBroadcastCheckVantor(listed), 0);
  fmDLLSelectDeviceIndex(1);
  EXPECT_EQ(fmIsVantorDownloadComplete(), 1);  // nothing to download
}

// A plate that stores every block it is sent: a block sent twice, or sent before the plate said it
// was ready, would shift the stream and end with a CRC mismatch.
TEST_F(CalibrationDownload, EachBlockGoesOutOnceAfterAReadyAnswer) {
  const auto plate = SmartPlate(0, 300, kCalibrated);
  BringUp({plate});
  Amplifier(0).SetPlateStoresEveryBlock(true);
  Amplifier(0).ClearWireLog();
  WriteCalibration(plate, 300, 2500);  // 2502 bytes with the CRC: three blocks
  ASSERT_EQ(fmVantorDownloadCalFile(0), 0);
  ASSERT_TRUE(WaitUntil([] { return fmIsVantorDownloadComplete() != 0; }));
  EXPECT_EQ(fmIsVantorDownloadComplete(), 1);
  // Transmissions in order: the header once, then each block followed by status queries.
  std::vector<int> codes;
  for (const sim::WireRecord& record : Amplifier(0).WireLog())
    if (const auto code = record.CommandCode()) codes.push_back(*code);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), 193);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 193), 1);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 194), 3);
  for (std::size_t i = 0; i + 1 < codes.size(); ++i) {
    if (codes[i] == 194) {
      EXPECT_EQ(codes[i + 1], 247) << "at transmission " << i;
    }
  }
  std::vector<std::uint8_t> stream = calibration_;
  const std::uint16_t crc = Crc16Arc(stream.data(), stream.size());
  stream.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  stream.push_back(static_cast<std::uint8_t>(crc >> 8));
  EXPECT_EQ(Amplifier(0).ReceivedCalibration(), stream);
}

TEST_F(CalibrationDownload, AFileForAnotherPlateTypeIsRefused) {
  const auto plate = SmartPlate(0, 400, kNeedsDownload);
  WriteCalibration(plate, 300, 100);
  BringUp({plate});
  EXPECT_EQ(fmIsVantorDownloadComplete(), 2);
  int listed[25];
  ASSERT_EQ(fmBroadcastCheckVantor(listed), 1);
  EXPECT_EQ(listed[0], 0);
  EXPECT_EQ(fmVantorDownloadCalFile(0), 4);
}

TEST_F(CalibrationDownload, WithoutACalibrationDirectoryEveryPlateNeedingOneIsListed) {
  ASSERT_TRUE(std::filesystem::remove(Path("machine-settings.conf")));
  Settings().Write("SOFTWARE\\Torva\\CFG", "Path", ConfigurationDirectory());
  BringUp({SmartPlate(0, 300, kNeedsDownload), sim::DescribeAmplifier(1, 100),
           SmartPlate(2, 400, 4)});
  int listed[25];
  ASSERT_EQ(fmBroadcastCheckVantor(listed), 2);
  EXPECT_EQ(listed[0], 0);
  EXPECT_EQ(listed[1], 2);
  fmDLLSelectDeviceIndex(2);
  EXPECT_EQ(fmIsVantorDownloadComplete(), 2);
  EXPECT_EQ(fmVantorDownloadCalFile(0), 3);
  fmDLLSelectDeviceIndex(1);
  EXPECT_EQ(fmVantorDownloadCalFile(0), 2);  // not a smart plate
}

TEST_F(CalibrationDownload, APlateThatStaysBusyKeepsTheDownloadRunningAndTheLibraryResponsive) {
  const auto plate = SmartPlate(0, 300, kNeedsDownload);
  WriteCalibration(plate, 300, 3000);
  Install({plate});
  Amplifier(0).SetPlateStaysBusy(true);
  ASSERT_EQ(fmDLLInit(), 1);
  // The plate is asked again and again; the bring-up waits and everything else keeps working.
  ASSERT_TRUE(WaitUntil([&] {
    int reads = 0;
    for (const sim::WireRecord& record : Amplifier(0).WireLog())
      if (record.CommandCode() == 247) ++reads;
    return reads >= 20;
  }));
  EXPECT_EQ(fmDLLIsDeviceInitComplete(), 0);
  EXPECT_EQ(fmIsVantorDownloadComplete(), 0);
  EXPECT_EQ(fmDLLGetDeviceCount(), 1);
  char serial[16];
  fmGetAmplifierSerialNumber(serial);
  EXPECT_STREQ(serial, plate.amplifierSerial.c_str());
  EXPECT_LT(Control().Device(0)->RefusedCommands(), 1);  // one query at a time, no pile-up
}

TEST_F(CalibrationDownload, ACorruptedByteEndsWithACrcMismatch) {
  const auto plate = SmartPlate(0, 300, kNeedsDownload);
  WriteCalibration(plate, 300, 1500);
  Install({plate});
  Amplifier(0).CorruptCalibrationByte(700);
  Initialise();
  EXPECT_EQ(fmIsVantorDownloadComplete(), 4);
}

TEST_F(CalibrationDownload, ARejectedVersionEndsWithStatusThree) {
  const auto plate = SmartPlate(0, 300, kNeedsDownload);
  WriteCalibration(plate, 300, 100);
  Install({plate});
  Amplifier(0).SetRejectCalibrationVersion(true);
  Initialise();
  EXPECT_EQ(fmIsVantorDownloadComplete(), 3);
}

TEST(CalibrationDownloadWithoutLibrary, NoLibraryMeansNoDevice) {
  EXPECT_EQ(fmVantorDownloadCalFile(0), 1);
}

TEST_F(CalibrationDownload, ThePlateCheckListsAFileShorterThanItsHeader) {
  const auto plate = SmartPlate(0, 300, kNeedsDownload);
  WriteCalibration(plate, 300, 12);  // the right product type, but no whole header
  BringUp({plate});
  EXPECT_EQ(fmIsVantorDownloadComplete(), 2);
  int listed[25];
  ASSERT_EQ(fmBroadcastCheckVantor(listed), 1);
  EXPECT_EQ(listed[0], 0);
  EXPECT_TRUE(Amplifier(0).ReceivedCalibration().empty());
}

TEST_F(CalibrationDownload, ARequestedDownloadNeedsAFileHoldingItsWholeHeader) {
  const auto plate = SmartPlate(0, 300, kCalibrated);
  BringUp({plate});
  // Too short for the product word: not a file for this plate.
  for (std::size_t bytes : {0, 3}) {
    WriteCalibration(plate, 300, bytes);
    EXPECT_EQ(fmVantorDownloadCalFile(0), 4) << bytes << " bytes";
  }
  // The product word but not the whole header: the device cannot load it.
  WriteCalibration(plate, 300, 12);
  ASSERT_EQ(fmVantorDownloadCalFile(0), 0);
  ASSERT_TRUE(WaitUntil([] { return fmIsVantorDownloadComplete() != 0; }));
  EXPECT_EQ(fmIsVantorDownloadComplete(), 2);
  EXPECT_TRUE(Amplifier(0).ReceivedCalibration().empty());

  WriteCalibration(plate, 300, 20);  // the header alone
  ASSERT_EQ(fmVantorDownloadCalFile(0), 0);
  ASSERT_TRUE(WaitUntil([] { return fmIsVantorDownloadComplete() != 0; }));
  EXPECT_EQ(fmIsVantorDownloadComplete(), 1);
  EXPECT_EQ(Amplifier(0).ReceivedCalibration().size(), 22u);
}

}  // namespace
}  // namespace torva
