// Commands to emulated amplifiers through the exported functions: what reaches the wire, what the
// amplifier's memory then holds, and the queueing rules around acquisition.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "driver/device/amplifier_device.h"
#include "tests/support/emulated_library.h"

namespace torva {
namespace {

using ::testing::ElementsAre;
using testing::EmulatedLibrary;
using testing::WaitUntil;

int Count(const std::vector<int>& codes, int code) {
  return static_cast<int>(std::count(codes.begin(), codes.end(), code));
}

// The codes sent after the bring-up's parameter reads.
std::vector<int> AfterBringUp(std::vector<int> codes) {
  auto last = std::find_if(codes.rbegin(), codes.rend(), [](int c) { return c == 208; });
  return {last.base(), codes.end()};
}

class AmplifierCommands : public EmulatedLibrary {};

TEST_F(AmplifierCommands, ThreeAmplifiersComeUpAsSlotsZeroOneTwoInOneBringUp) {
  BringUp(3);
  EXPECT_EQ(fmDLLGetDeviceCount(), 3);
  for (int position = 0; position < 3; ++position) {
    fmDLLSelectDeviceIndex(position);
    EXPECT_EQ(fmDLLGetDeviceIndex(), position);
    EXPECT_EQ(Control().SelectedSlot(), position);
    char serial[16];
    fmGetAmplifierSerialNumber(serial);
    EXPECT_STREQ(serial, Amplifier(static_cast<std::size_t>(position)).Memory().amplifierSerial);
  }
  // Every amplifier was read whole, once.
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(Count(Commands(i), 208), 1);
}

TEST_F(AmplifierCommands, AnAmplifierThatCannotBeOpenedLeavesTheOthersWorking) {
  std::vector<sim::AmplifierDescription> descriptions = {
      sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 100),
      sim::DescribeAmplifier(2, 100)};
  descriptions[1].refusesOpen = true;
  BringUp(descriptions);
  ASSERT_EQ(fmDLLGetDeviceCount(), 2);
  const char* expected[] = {descriptions[0].amplifierSerial.c_str(),
                            descriptions[2].amplifierSerial.c_str()};
  for (int position = 0; position < 2; ++position) {
    fmDLLSelectDeviceIndex(position);
    char serial[16];
    fmGetAmplifierSerialNumber(serial);
    EXPECT_STREQ(serial, expected[position]);
    fmSetBlink();
  }
  EXPECT_TRUE(WaitUntil(
      [&] { return Amplifier(0).BlinkCount() > 0 && Amplifier(2).BlinkCount() > 0; }));
  EXPECT_EQ(Amplifier(1).BlinkCount(), 0);
}

TEST_F(AmplifierCommands, OnlyAmplifiersOfTheVendorAreBroughtUp) {
  sim::AmplifierDescription other = sim::DescribeAmplifier(1, 100);
  other.speaksAmplifierProtocol = false;
  other.productId = 0x0101;
  sim::AmplifierDescription product200 = sim::DescribeAmplifier(2, 100);
  product200.productId = kAmplifierProductId200;
  BringUp({sim::DescribeAmplifier(0, 100), other, product200});
  EXPECT_EQ(fmDLLGetDeviceCount(), 2);
  EXPECT_EQ(Control().Device(1)->MatchedProductId(), kAmplifierProductId200);
}

TEST_F(AmplifierCommands, PacketSizeOnlyAccepts512) {
  BringUp(1);
  fmDLLSetUSBPacketSize(1024);
  EXPECT_EQ(Control().Records().PacketSize(0), 512);
  fmDLLSetUSBPacketSize(256);
  EXPECT_EQ(Control().Records().PacketSize(0), 512);
}

TEST_F(AmplifierCommands, GainsAndExcitationsAreClampedThenStored) {
  BringUp(1);
  int gains[6] = {-5, 0, 2, 3, 4, 99};
  fmSetCurrentGains(gains);
  ASSERT_TRUE(WaitForMemory(0, [](const AmplifierParameterBlock& m) {
    return m.currentGains[0] == 0 && m.currentGains[5] == 3;
  }));
  EXPECT_THAT(Amplifier(0).Memory().currentGains, ElementsAre(0, 0, 2, 3, 3, 3));
  int read[6];
  fmGetCurrentGains(read);
  EXPECT_THAT(read, ElementsAre(0, 0, 2, 3, 3, 3));

  int excitations[6] = {7, -1, 0, 1, 2, 3};
  fmSetCurrentExcitations(excitations);
  ASSERT_TRUE(WaitForMemory(0, [](const AmplifierParameterBlock& m) {
    return m.currentExcitations[0] == 2 && m.currentExcitations[5] == 2;
  }));
  EXPECT_THAT(Amplifier(0).Memory().currentExcitations, ElementsAre(2, 0, 0, 1, 2, 2));
  EXPECT_THAT(AfterBringUp(Commands(0)), ElementsAre(229, 230));
}

TEST_F(AmplifierCommands, TableAndTextSettersReachTheAmplifierMemory) {
  BringUp(1);
  float six[6] = {1.5f, -2.25f, 3.0f, 4.0f, 5.0f, 6.5f};
  float eighteen[18];
  float twentyFour[24];
  float thirtySix[36];
  for (int i = 0; i < 36; ++i) {
    if (i < 18) eighteen[i] = static_cast<float>(i) * 0.5f;
    if (i < 24) twentyFour[i] = static_cast<float>(i) + 0.25f;
    thirtySix[i] = static_cast<float>(i) * -0.125f;
  }
  float three[3] = {0.5f, -0.75f, -1.5f};
  char date[12] = "2026-12-08";
  char model[28] = "TP-BIG-PLATE-4060-LONG-NAME";
  char serial[16] = "P99999";
  char length[16] = "23.62";
  char width[16] = "16.01";

  fmSetChannelOffsetsTable(six);
  fmSetDACGainsTable(six);
  fmSetDACOffsetTable(six);
  fmSetDACSensitivityTable(six);
  fmSetPlatformCapacity(six);
  fmSetPlatformBridgeResistance(six);
  fmSetPlatformXYZOffsets(three);
  fmSetExcitationTable(eighteen);
  fmSetGainTable(twentyFour);
  fmSetInvertedSensitivityMatrix(thirtySix);
  fmSetCableLength(12.5f);
  fmSetADRef(2.5f);
  fmSetMatrixMode(1);
  fmSetProductType(200);
  fmSetAmplifierDate(date);
  fmSetPlatformDate(date);
  fmSetPlatformModelNumber(model);
  fmSetPlatformSerialNumber(serial);
  fmSetPlatformLengthAndWidth(length, width);

  ASSERT_TRUE(WaitForMemory(0, [](const AmplifierParameterBlock& m) {
    return std::strcmp(m.platformWidth, "16.01") == 0;
  }));
  const AmplifierParameterBlock memory = Amplifier(0).Memory();
  EXPECT_EQ(std::memcmp(memory.channelOffsets, six, sizeof six), 0);
  EXPECT_EQ(std::memcmp(memory.dacGains, six, sizeof six), 0);
  EXPECT_EQ(std::memcmp(memory.dacOffsets, six, sizeof six), 0);
  EXPECT_EQ(std::memcmp(memory.dacSensitivities, six, sizeof six), 0);
  EXPECT_EQ(std::memcmp(memory.platformCapacity, six, sizeof six), 0);
  EXPECT_EQ(std::memcmp(memory.bridgeResistance, six, sizeof six), 0);
  EXPECT_EQ(std::memcmp(memory.platformOffsets, three, sizeof three), 0);
  EXPECT_EQ(std::memcmp(memory.excitationTable, eighteen, sizeof eighteen), 0);
  EXPECT_EQ(std::memcmp(memory.gainTable, twentyFour, sizeof twentyFour), 0);
  EXPECT_EQ(std::memcmp(memory.invertedSensitivity, thirtySix, sizeof thirtySix), 0);
  EXPECT_EQ(memory.cableLength, 12.5f);
  EXPECT_EQ(memory.adReference, 2.5f);
  EXPECT_EQ(memory.matrixMode, 1);
  EXPECT_EQ(memory.productType, 200);
  EXPECT_STREQ(memory.amplifierDate, "2026-12-08");
  EXPECT_STREQ(memory.platformDate, "2026-12-08");
  EXPECT_EQ(std::memcmp(memory.platformModel, model, sizeof model), 0);
  EXPECT_STREQ(memory.platformSerial, "P99999");
  EXPECT_STREQ(memory.platformLength, "23.62");
  EXPECT_THAT(AfterBringUp(Commands(0)),
              ElementsAre(223, 224, 225, 234, 218, 217, 219, 222, 221, 220, 233, 232, 227, 226,
                          211, 216, 212, 213, 214, 215));

  // The getters read the library's copy.
  float readSix[6];
  fmGetDACOffsetTable(readSix);
  EXPECT_EQ(std::memcmp(readSix, six, sizeof six), 0);
  EXPECT_EQ(fmGetCableLength(), 12.5f);
  EXPECT_EQ(fmGetProductType(), 200);
  char readModel[28];
  fmGetPlatformModelNumber(readModel);
  EXPECT_EQ(std::memcmp(readModel, model, sizeof model), 0);
}

TEST_F(AmplifierCommands, RotationOfASmartPlateAlsoSendsTheRotationCode) {
  BringUp(1, 300);
  struct Case {
    float degrees;
    std::int32_t quadrant, cosine, sine;
  };
  for (const Case& c : {Case{90.0f, 1, 0, 32768}, Case{45.0f, 4, 23170, 23170},
                        Case{400.0f, 0, 32768, 0}}) {
    SCOPED_TRACE(c.degrees);
    Amplifier(0).ClearWireLog();
    fmSetPlatformRotation(c.degrees);
    ASSERT_TRUE(WaitForMemory(0, [&](const AmplifierParameterBlock& m) {
      return m.platformRotation == c.degrees && m.rotationCode[0] == c.quadrant &&
             m.rotationCode[1] == c.cosine && m.rotationCode[2] == c.sine;
    }));
    EXPECT_THAT(Commands(0), ElementsAre(235, 238));
    EXPECT_EQ(fmGetPlatformRotation(), c.degrees);
  }
}

TEST_F(AmplifierCommands, RotationOfAnOrdinaryPlateSendsOnlyTheAngle) {
  BringUp(1, 100);
  const AmplifierParameterBlock before = Amplifier(0).Memory();
  fmSetPlatformRotation(90.0f);
  ASSERT_TRUE(WaitForMemory(0, [](const AmplifierParameterBlock& m) {
    return m.platformRotation == 90.0f;
  }));
  fmSetBlink();  // a later command: once it is on the wire, nothing else is still queued
  ASSERT_TRUE(WaitUntil([&] { return Count(Commands(0), 195) > 0; }));
  EXPECT_THAT(AfterBringUp(Commands(0)), ElementsAre(235, 195));
  EXPECT_EQ(std::memcmp(Amplifier(0).Memory().rotationCode, before.rotationCode,
                        sizeof before.rotationCode),
            0);
}

TEST_F(AmplifierCommands, ANonFiniteRotationIsIgnored) {
  BringUp(1, 300);
  fmSetPlatformRotation(90.0f);
  ASSERT_TRUE(WaitForMemory(0, [](const AmplifierParameterBlock& m) {
    return m.platformRotation == 90.0f && m.rotationCode[0] == 1;
  }));
  fmSetBlink();  // once it is on the wire, nothing queued before it is still waiting
  ASSERT_TRUE(WaitUntil([&] { return Count(Commands(0), 195) > 0; }));
  Amplifier(0).ClearWireLog();
  for (float degrees : {std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity()}) {
    fmSetPlatformRotation(degrees);
  }
  fmSetBlink();
  ASSERT_TRUE(WaitUntil([&] { return Count(Commands(0), 195) > 0; }));
  const std::vector<int> codes = Commands(0);
  EXPECT_EQ(Count(codes, 235), 0);
  EXPECT_EQ(Count(codes, 238), 0);
  EXPECT_EQ(fmGetPlatformRotation(), 90.0f);
  EXPECT_EQ(Amplifier(0).Memory().platformRotation, 90.0f);
  EXPECT_EQ(Amplifier(0).Memory().rotationCode[0], 1);
}

TEST_F(AmplifierCommands, AConfirmedCommandThatIsNeverDoneIsSentThreeTimesAndDropped) {
  BringUp(1);
  Amplifier(0).ClearWireLog();
  Amplifier(0).ForceReplyStatus(0, 3);  // the three replies to Blink decline
  fmSetBlink();
  fmSave();
  ASSERT_TRUE(WaitUntil([&] { return Count(Commands(0), 188) >= 1; }));
  ASSERT_TRUE(WaitUntil([&] { return Control().Device(0)->QueuedCommands() == 0; }));
  const std::vector<int> codes = Commands(0);
  EXPECT_THAT(codes, ElementsAre(195, 195, 195, 188));
}

TEST_F(AmplifierCommands, ALoneReadAllParametersIsSentAndAnsweredOnce) {
  BringUp(1);
  // Let the bring-up's own replies settle: every read answered, nothing queued.
  auto settled = [&] {
    int commands = 0;
    int replies = 0;
    for (const sim::WireRecord& record : Amplifier(0).WireLog()) {
      if (record.CommandCode() == 208) ++commands;
      if (record.IsReplyRequest()) ++replies;
    }
    return Control().Device(0)->QueuedCommands() == 0 && commands == replies;
  };
  ASSERT_TRUE(WaitUntil(settled));
  const int before = Control().Progress().ParameterReplies();
  Amplifier(0).ClearWireLog();
  fmRetrieveAllParams();
  ASSERT_TRUE(WaitUntil([&] { return Control().Progress().ParameterReplies() >= before + 1; }));
  ASSERT_TRUE(WaitUntil(settled));
  EXPECT_EQ(Control().Progress().ParameterReplies(), before + 1);
  EXPECT_EQ(Count(Commands(0), 208), 1);
}

TEST_F(AmplifierCommands, BlinkWhileStreamingStopsFirstAndAcquisitionStaysStopped) {
  BringUp(1);
  ASSERT_TRUE(Control().IssueCommand(0, CommandCode::kStart));
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).Streaming(); }));
  ASSERT_TRUE(WaitUntil([&] { return Control().Device(0)->QueuedCommands() == 0; }));
  Amplifier(0).ClearWireLog();
  fmSetBlink();
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).BlinkCount() > 0; }));
  EXPECT_THAT(Commands(0), ElementsAre(179, 195));
  EXPECT_FALSE(Amplifier(0).Streaming());
  EXPECT_FALSE(Control().Device(0)->IsStreaming());
}

TEST_F(AmplifierCommands, ZeroWhileStreamingGoesOutAtOnceWithoutStopping) {
  BringUp(1);
  ASSERT_TRUE(Control().IssueCommand(0, CommandCode::kStart));
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).Streaming(); }));
  Amplifier(0).ClearWireLog();
  ASSERT_TRUE(Control().IssueCommand(0, CommandCode::kZero));
  // Sent ahead of the queue by the device thread, between two packets.
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).Zeroed(); }));
  EXPECT_EQ(Count(Commands(0), 180), 1);
  EXPECT_EQ(Count(Commands(0), 179), 0);
  EXPECT_TRUE(Amplifier(0).Streaming());
}

TEST_F(AmplifierCommands, AStopOfAnIdleAmplifierIsNotSent) {
  BringUp(1);
  Amplifier(0).ClearWireLog();
  EXPECT_FALSE(Control().IssueCommand(0, CommandCode::kStop));
  EXPECT_EQ(Control().Device(0)->QueuedCommands(), 0);
}

TEST_F(AmplifierCommands, UpdateRequestsReportZeroUntilTheirReplyArrives) {
  BringUp(1);
  // The amplifier holds its replies until the getter has been asked.
  auto requestThenRelease = [&](int code, auto update, auto get) {
    Amplifier(0).SetRepliesHeld(true);
    update();
    EXPECT_TRUE(WaitUntil([&] { return Count(Commands(0), code) > 0; }));
    EXPECT_EQ(get(), 0) << code;
    Amplifier(0).SetRepliesHeld(false);
    EXPECT_TRUE(WaitUntil([&] { return get() == 1; })) << code;
  };
  float limits[12];
  int pots[6];
  requestThenRelease(240, fmUpdateMechanicalMaxAndMin, [&] { return fmGetMechanicalMaxAndMin(limits); });
  EXPECT_EQ(std::memcmp(limits, Amplifier(0).Memory().mechanicalLimits, sizeof limits), 0);
  requestThenRelease(246, fmUpdateAnalogMaxAndMin, [&] { return fmGetAnalogMaxAndMin(limits); });
  EXPECT_EQ(std::memcmp(limits, Amplifier(0).Memory().analogLimits, sizeof limits), 0);
  requestThenRelease(244, fmUpdateAutozeroPots, [&] { return fmGetAutozeroPots(pots); });
  requestThenRelease(245, fmUpdateTare, [&] { return fmGetTare(pots); });
}

TEST_F(AmplifierCommands, FirmwareVersionTextJoinsTheSuffixOnlyWhenItFits) {
  sim::AmplifierDescription shortVersion = sim::DescribeAmplifier(0, 100);
  shortVersion.firmwareVersion = "3.2.14AB";
  shortVersion.firmwareSuffix = "R1";
  sim::AmplifierDescription longVersion = sim::DescribeAmplifier(1, 100);
  longVersion.firmwareVersion = "3.2.14ABCD";
  longVersion.firmwareSuffix = "RC123";
  BringUp({shortVersion, longVersion});
  char text[16];
  fmDLLSelectDeviceIndex(0);
  fmGetAmplifierFirmwareVersion(text);
  EXPECT_STREQ(text, "3.2.14AB-R1");
  fmDLLSelectDeviceIndex(1);
  fmGetAmplifierFirmwareVersion(text);
  EXPECT_STREQ(text, "3.2.14ABCD");
}

TEST_F(AmplifierCommands, MaintenanceCommandsReachTheWire) {
  BringUp(1);
  Amplifier(0).ClearWireLog();
  fmResetHardware();
  fmResetSoftware();
  fmApplyLimited();
  fmSetCopyFactParam();
  fmProgramExcitation();
  fmSetDacValues(1234);
  fmSetDacValuesOff();
  fmPrepareForBootLoad();  // puts nothing on the wire
  fmSetBlink();
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).BlinkCount() > 0; }));
  EXPECT_THAT(Commands(0), ElementsAre(176, 177, 187, 196, 185, 191, 192, 195));
}

TEST_F(AmplifierCommands, ABootImageGoesOutIn64ByteChunks) {
  BringUp(1);
  Amplifier(0).ClearWireLog();
  char image[130];
  for (int i = 0; i < 130; ++i) image[i] = static_cast<char>(i + 1);
  const int sleepsBefore = clock_.sleeps;
  fmBootLoad(image, 130);
  EXPECT_EQ(clock_.sleeps - sleepsBefore, 3);
  ASSERT_TRUE(WaitUntil([&] { return Control().Device(0)->QueuedCommands() == 0; }));
  // Each chunk goes on the wire once, as a two-block BootChunk packet with the chunk's bytes after
  // the 16-byte header.
  std::vector<std::vector<std::uint8_t>> chunks;
  for (const sim::WireRecord& record : Amplifier(0).WireLog())
    if (record.CommandCode() == 198) chunks.push_back(record.data);
  ASSERT_EQ(chunks.size(), 3u);
  for (const auto& chunk : chunks) ASSERT_EQ(chunk.size(), 128u);
  EXPECT_EQ(chunks[2][18], 0);  // only the final two bytes are new; the rest stays zero-padded
  // The boot loader holds the image once, in order; the last chunk is padded to 64 bytes.
  std::vector<std::uint8_t> expected(image, image + 130);
  expected.resize(3 * 64, 0);
  EXPECT_EQ(Amplifier(0).BootImage(), expected);
}

TEST_F(AmplifierCommands, BroadcastsReachEveryAmplifierOnce) {
  BringUp(2);
  for (std::size_t i = 0; i < 2; ++i) Amplifier(i).ClearWireLog();
  fmBroadcastSave();
  fmBroadcastResetSoftware();
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(WaitUntil([&] { return Count(Commands(i), 177) > 0; }));
    EXPECT_THAT(Commands(i), ElementsAre(188, 177));
  }
  EXPECT_EQ(fmBroadcastResetUSB(), 2);
}

TEST(AmplifierCommandsWithoutLibrary, CallsDoNothingAndNullPointersAreSafe) {
  EXPECT_EQ(fmBroadcastResetUSB(), 0);
  fmSetCurrentGains(nullptr);
  fmGetCurrentGains(nullptr);
  fmSetPlatformLengthAndWidth(nullptr, nullptr);
  fmBootLoad(nullptr, 10);
  EXPECT_EQ(fmGetMechanicalMaxAndMin(nullptr), 0);
  EXPECT_EQ(fmGetProductType(), 0);
  EXPECT_EQ(fmGetCableLength(), 0.0f);
}

TEST_F(AmplifierCommands, NullPointersOnALiveLibraryChangeNothing) {
  BringUp(1);
  Amplifier(0).ClearWireLog();
  fmSetCurrentGains(nullptr);
  fmSetChannelOffsetsTable(nullptr);
  fmSetPlatformLengthAndWidth(nullptr, nullptr);
  fmSetPlatformSerialNumber(nullptr);
  fmGetAmplifierFirmwareVersion(nullptr);
  EXPECT_EQ(fmGetAutozeroPots(nullptr), 0);
  fmBootLoad(nullptr, 64);
  fmSetBlink();
  ASSERT_TRUE(WaitUntil([&] { return Amplifier(0).BlinkCount() > 0; }));
  EXPECT_THAT(Commands(0), ElementsAre(195));
}

}  // namespace
}  // namespace torva
