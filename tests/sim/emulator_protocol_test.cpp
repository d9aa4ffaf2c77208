// The emulated amplifier's command protocol: decoding, memory, replies and the wire log.

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "host_commands.h"
#include "sim/amplifier_description.h"
#include "sim/emulated_amplifier.h"
#include "sim/parameter_memory.h"

namespace torva::sim {
namespace {

using namespace testing;

class EmulatorProtocol : public ::testing::Test {
 protected:
  EmulatorProtocol() : amplifier_(DescribeAmplifier(0, 300), std::chrono::steady_clock::now()) {}

  static std::vector<std::uint8_t> Pattern(const CommandInfo& info) {
    std::vector<std::uint8_t> bytes(info.payloadSlice.bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<std::uint8_t>(static_cast<int>(info.code) * 7 + i * 13 + 1);
    }
    return bytes;
  }

  EmulatedAmplifier amplifier_;
};

TEST_F(EmulatorProtocol, PowersUpWithPlausibleMemory) {
  const auto block = ReadAllParameters(amplifier_);
  ASSERT_TRUE(block);
  EXPECT_STREQ(block->amplifierSerial, "TA601201");
  EXPECT_STREQ(block->platformLength, "23.62");
  EXPECT_STREQ(block->platformWidth, "19.69");
  EXPECT_EQ(block->productType, 300);
  EXPECT_EQ(block->acquisitionRate, 1000);
  EXPECT_EQ(block->smartPlateStatus, static_cast<std::int32_t>(SmartPlateStatus::kCalibrated));
  EXPECT_GT(block->platformCapacity[2], block->platformCapacity[0]);
  EXPECT_LT(block->platformOffsets[2], 0.0f);
  EXPECT_GT(std::strlen(block->firmwareVersion), 0u);
  const AmplifierParameterBlock memory = amplifier_.Memory();
  EXPECT_EQ(std::memcmp(&*block, &memory, sizeof *block), 0);
}

TEST_F(EmulatorProtocol, EveryParameterCommandRoundTripsThroughReadAllParameters) {
  int setters = 0;
  for (const CommandInfo& info : kCommandTable) {
    if (info.payload != PayloadSource::kParameterBlock) continue;
    ++setters;
    const std::vector<std::uint8_t> pattern = Pattern(info);
    const auto exchange = Command(amplifier_, info.code, pattern.data(), pattern.size());
    ASSERT_TRUE(exchange) << info.name;
    EXPECT_EQ(exchange->code, static_cast<std::uint8_t>(info.code)) << info.name;
    EXPECT_EQ(exchange->status, kReplyStatusDone) << info.name;
    const auto block = ReadAllParameters(amplifier_);
    ASSERT_TRUE(block) << info.name;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&*block);
    EXPECT_EQ(std::memcmp(bytes + info.payloadSlice.offset, pattern.data(), pattern.size()), 0)
        << info.name;
  }
  EXPECT_EQ(setters, 27);
}

TEST_F(EmulatorProtocol, EveryCommandIsAnsweredWithItsCodeAndStatusOneAndLoggedInOrder) {
  std::vector<int> sent;
  for (const CommandInfo& info : kCommandTable) {
    if (!info.transmitted) continue;
    std::vector<std::uint8_t> payload(PayloadCapacity(info.blocks), 0);
    if (info.code == CommandCode::kBeginCalibrationDownload) {
      CalibrationDownloadHeader header{};
      header.headerWord1 = 1;
      header.streamLength = 2;
      header.blockCount = 1;
      std::memcpy(payload.data(), &header, sizeof header);
    }
    ASSERT_TRUE(Send(amplifier_, info, payload.data(), payload.size())) << info.name;
    sent.push_back(static_cast<int>(info.code));
    if (info.replyBlocks == 0) continue;
    const auto reply = ReadReply(amplifier_, info, info.ReplyRequest());
    ASSERT_TRUE(reply) << info.name;
    ASSERT_EQ(reply->size(), info.ReplyBytes()) << info.name;
    EXPECT_EQ((*reply)[1], static_cast<std::uint8_t>(info.code)) << info.name;
    EXPECT_EQ((*reply)[5], kReplyStatusDone) << info.name;
  }
  EXPECT_EQ(amplifier_.ReceivedCommandCodes(), sent);
  EXPECT_EQ(sent.size(), kCommandCount - 1);  // all but PrepareBootLoad
}

TEST_F(EmulatorProtocol, ReadAllParametersAnswersFifteenBlocksWithTheBlockAtByte16) {
  ASSERT_TRUE(Send(amplifier_, CommandCode::kReadAllParameters));
  const auto reply = ReadReply(amplifier_, CommandCode::kReadAllParameters);
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->size(), 960u);
  const AmplifierParameterBlock memory = amplifier_.Memory();
  EXPECT_EQ(std::memcmp(reply->data() + 16, &memory, sizeof memory), 0);
  for (std::size_t i = 16 + sizeof memory; i < reply->size(); ++i) EXPECT_EQ((*reply)[i], 0);
}

TEST_F(EmulatorProtocol, RefusesMalformedOrMismatchedPacketsWithoutTouchingMemory) {
  const AmplifierParameterBlock before = amplifier_.Memory();
  const CommandInfo& rate = Info(CommandCode::kSetAcquisitionRate);
  const std::int32_t value = 2000;
  CommandPacketBuffer packet{};
  ASSERT_EQ(BuildCommandPacket(rate, &value, sizeof value, packet.data(), packet.size()), 64u);

  // Sends the packet and returns the status of the reply that follows.
  SetupPacket setup;
  setup.requestType = kVendorOutRequestType;
  setup.length = 64;
  auto statusAfter = [&](std::uint8_t request, std::uint8_t replyRequest) {
    setup.request = request;
    EXPECT_EQ(amplifier_.ControlOut(setup, packet.data(), 64).status, TransferStatus::kCompleted);
    const auto reply = ReadReply(amplifier_, rate, replyRequest);
    return reply ? static_cast<int>((*reply)[5]) : -1;
  };
  // The read-back request code instead of the command request.
  EXPECT_EQ(statusAfter(kReadBackRequest, rate.ReplyRequest()), kReplyStatusRefused);
  // A header whose item count disagrees with the table.
  packet[2] = 2;
  EXPECT_EQ(statusAfter(kCommandRequest, rate.ReplyRequest()), kReplyStatusRefused);
  // A block count that disagrees with the length.
  packet[2] = 1;
  packet[0] = 2;
  EXPECT_EQ(statusAfter(kCommandRequest, rate.ReplyRequest()), kReplyStatusRefused);
  // A code outside the command set.
  packet[0] = 1;
  packet[1] = 184;
  EXPECT_EQ(statusAfter(kCommandRequest, kReplyRequest), kReplyStatusRefused);
  EXPECT_EQ(amplifier_.WireLog().back().data[1], 184);  // the reply echoed the code

  // wLength that disagrees with the data stage is stalled outright.
  setup.length = 128;
  EXPECT_EQ(amplifier_.ControlOut(setup, packet.data(), 64).status, TransferStatus::kStall);
  // So is a command or reply request whose wValue or wIndex is not 0.
  packet[1] = 228;
  setup.length = 64;
  for (const auto& [wValue, wIndex] : {std::pair{1, 0}, std::pair{0, 1}}) {
    setup.value = static_cast<std::uint16_t>(wValue);
    setup.index = static_cast<std::uint16_t>(wIndex);
    EXPECT_EQ(amplifier_.ControlOut(setup, packet.data(), 64).status, TransferStatus::kStall);
  }
  setup.value = 0;
  setup.index = 0;
  ASSERT_EQ(amplifier_.ControlOut(setup, packet.data(), 64).status, TransferStatus::kCompleted);
  SetupPacket reply;
  reply.requestType = kVendorInRequestType;
  reply.request = rate.ReplyRequest();
  reply.value = 1;
  reply.length = 64;
  std::uint8_t replyBytes[64];
  EXPECT_EQ(amplifier_.ControlIn(reply, replyBytes, sizeof replyBytes).status,
            TransferStatus::kStall);

  AmplifierParameterBlock after = amplifier_.Memory();
  // Only the one well-formed packet took effect.
  EXPECT_EQ(after.acquisitionRate, value);
  after.acquisitionRate = before.acquisitionRate;
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(EmulatorProtocol, ReplyRequestsNeedAPendingReplyOfTheRightKind) {
  // Nothing sent yet: the reply request stalls.
  EXPECT_FALSE(ReadReply(amplifier_, CommandCode::kBlink));
  // A confirmed command's reply asked for with the unconfirmed request: answered, not done.
  ASSERT_TRUE(Send(amplifier_, CommandCode::kBlink));
  const auto wrong = ReadReply(amplifier_, Info(CommandCode::kBlink), kReplyRequest);
  ASSERT_TRUE(wrong);
  EXPECT_EQ((*wrong)[5], kReplyStatusRefused);
  // The reply is consumed by the first request.
  EXPECT_FALSE(ReadReply(amplifier_, CommandCode::kBlink));
  // Start has no reply: nothing is left pending.
  ASSERT_TRUE(Send(amplifier_, CommandCode::kBlink));
  ASSERT_TRUE(Start(amplifier_));
  EXPECT_FALSE(ReadReply(amplifier_, CommandCode::kBlink));
}

TEST_F(EmulatorProtocol, ForcedReplyStatusesDeclineCommandsForAsLongAsAsked) {
  amplifier_.ForceReplyStatus(3, 2);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto refused = Command(amplifier_, CommandCode::kSetAcquisitionRate, &attempt,
                                 sizeof attempt);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 3);
    EXPECT_EQ(amplifier_.Memory().acquisitionRate, 1000);  // not carried out
  }
  EXPECT_TRUE(SetRate(amplifier_, 700));
  EXPECT_EQ(amplifier_.Memory().acquisitionRate, 700);
  amplifier_.ForceReplyStatus(0);  // forever, until switched off
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Command(amplifier_, CommandCode::kBlink)->status, 0);
  amplifier_.ForceReplyStatus(kReplyStatusDone, 0);
  EXPECT_EQ(Command(amplifier_, CommandCode::kBlink)->status, kReplyStatusDone);
  EXPECT_EQ(amplifier_.BlinkCount(), 1);
}

TEST_F(EmulatorProtocol, WireLogRecordsRequestsWithTheirData) {
  const std::int32_t mode = 3;
  ASSERT_TRUE(Command(amplifier_, CommandCode::kSetRunMode, &mode, sizeof mode));
  const std::vector<WireRecord> log = amplifier_.WireLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].event, WireEvent::kControlOut);
  EXPECT_EQ(log[0].setup.requestType, 0x40);
  EXPECT_EQ(log[0].setup.request, 0xB0);
  EXPECT_EQ(log[0].setup.length, 64);
  EXPECT_EQ(log[0].CommandCode(), 186);
  std::int32_t logged = 0;
  std::memcpy(&logged, log[0].data.data() + 16, sizeof logged);
  EXPECT_EQ(logged, 3);
  EXPECT_TRUE(log[1].IsReplyRequest());
  EXPECT_EQ(log[1].setup.request, 0xB5);
  EXPECT_EQ(log[1].data.size(), 64u);
  amplifier_.ClearWireLog();
  EXPECT_TRUE(amplifier_.WireLog().empty());
}

TEST(WireLog, StaysWithinItsByteBudgetByDroppingTheOldestRecords) {
  sim::WireLog log;
  const std::size_t recordData = 1088;  // a calibration-block packet
  const std::size_t records = 2 * sim::WireLog::kByteBudget / recordData;
  for (std::size_t i = 0; i < records; ++i) {
    WireRecord record;
    record.endpoint = static_cast<std::uint8_t>(i % 251);
    record.data.assign(recordData, 0);
    log.Add(std::move(record));
  }
  EXPECT_LE(log.Bytes(), sim::WireLog::kByteBudget);
  const auto kept = log.Records();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.size() + log.Dropped(), records);
  EXPECT_GT(log.Dropped(), records / 3);
  EXPECT_EQ(kept.back().endpoint, (records - 1) % 251);  // the newest is kept
  log.Clear();
  EXPECT_EQ(log.Bytes(), 0u);
  EXPECT_EQ(log.Dropped(), 0u);
}

TEST_F(EmulatorProtocol, SaveResetAndFactoryCopyBehaveLikeTheFirmware) {
  const std::int32_t rate = 500;
  ASSERT_TRUE(SetRate(amplifier_, rate));
  ASSERT_TRUE(Command(amplifier_, CommandCode::kSave));
  const std::int32_t other = 250;
  ASSERT_TRUE(SetRate(amplifier_, other));
  ASSERT_TRUE(Command(amplifier_, CommandCode::kResetHardware));
  EXPECT_EQ(amplifier_.Memory().acquisitionRate, rate);  // reloaded from what was saved
  ASSERT_TRUE(Command(amplifier_, CommandCode::kCopyFactoryParameters));
  EXPECT_EQ(amplifier_.Memory().acquisitionRate, 1000);
  ASSERT_TRUE(Command(amplifier_, CommandCode::kBlink));
  EXPECT_EQ(amplifier_.BlinkCount(), 1);
}

TEST_F(EmulatorProtocol, LimitsAndTareAreReadBack) {
  auto exchange = Command(amplifier_, CommandCode::kReadMechanicalLimits);
  ASSERT_TRUE(exchange);
  float limits[12];
  std::memcpy(limits, exchange->payload.data(), sizeof limits);
  const AmplifierParameterBlock memory = amplifier_.Memory();
  EXPECT_EQ(std::memcmp(limits, memory.mechanicalLimits, sizeof limits), 0);
  EXPECT_GT(limits[2], 0.0f);
  EXPECT_LT(limits[8], 0.0f);

  exchange = Command(amplifier_, CommandCode::kReadTare);
  ASSERT_TRUE(exchange);
  std::int32_t tare[6];
  std::memcpy(tare, exchange->payload.data(), sizeof tare);
  for (std::int32_t value : tare) EXPECT_EQ(value, 0);

  exchange = Command(amplifier_, CommandCode::kReadAutozeroPots);
  ASSERT_TRUE(exchange);
  std::int32_t pots[6];
  std::memcpy(pots, exchange->payload.data(), sizeof pots);
  for (std::int32_t pot : pots) EXPECT_EQ(pot, 2048);  // nothing nulled before Zero
  ASSERT_TRUE(Command(amplifier_, CommandCode::kZero));
  EXPECT_TRUE(amplifier_.Zeroed());
}

TEST(EmulatorDevices, ANonAmplifierOfTheVendorEnumeratesButStallsVendorRequests) {
  AmplifierDescription other = DescribeAmplifier(0, 100);
  other.productId = 0x0101;
  other.productName = "Torva Sync Box";
  other.speaksAmplifierProtocol = false;
  EmulatedAmplifier device(other, std::chrono::steady_clock::now());
  const std::vector<std::uint8_t> descriptor = device.DeviceDescriptor();
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x1F6D);
  EXPECT_EQ(descriptor[10] | descriptor[11] << 8, 0x0101);
  EXPECT_FALSE(Send(device, CommandCode::kBlink));
  EXPECT_FALSE(ReadReply(device, CommandCode::kBlink));
  TransferStatus status{};
  EXPECT_FALSE(ReadPacket(device, std::chrono::milliseconds(1), &status));
  EXPECT_EQ(status, TransferStatus::kTimeout);

  AmplifierDescription product200 = DescribeAmplifier(1, 100);
  product200.productId = kAmplifierProductId200;
  EmulatedAmplifier amplifier200(product200, std::chrono::steady_clock::now());
  const std::vector<std::uint8_t> descriptor200 = amplifier200.DeviceDescriptor();
  EXPECT_EQ(descriptor200[10] | descriptor200[11] << 8, 0x00C8);
  EXPECT_TRUE(Command(amplifier200, CommandCode::kBlink));
}

TEST(EmulatorDevices, StandardRequestsAnswerDescriptorsAndSettings) {
  EmulatedAmplifier device(DescribeAmplifier(2, 400), std::chrono::steady_clock::now());
  std::uint8_t buffer[255] = {};
  SetupPacket setup;
  setup.requestType = 0x80;
  setup.request = 0x06;
  setup.value = 0x0303;  // serial string
  setup.length = sizeof buffer;
  const TransferResult serial = device.ControlIn(setup, buffer, sizeof buffer);
  ASSERT_EQ(serial.status, TransferStatus::kCompleted);
  EXPECT_EQ(serial.bytes, 2u + 2 * 8);
  EXPECT_EQ(buffer[2], 'T');
  setup.value = 0x0200;
  setup.length = 9;
  const TransferResult header = device.ControlIn(setup, buffer, sizeof buffer);
  ASSERT_EQ(header.bytes, 9u);
  EXPECT_EQ(buffer[2] | buffer[3] << 8, 9 + 9 + 3 * 7);
  setup.value = 0x0309;  // no such string
  EXPECT_EQ(device.ControlIn(setup, buffer, sizeof buffer).status, TransferStatus::kStall);
  EXPECT_EQ(device.AlternateSetting(), 0);
  EXPECT_FALSE(device.SelectAlternateSetting(1));
  EXPECT_TRUE(device.SelectAlternateSetting(0));
}

}  // namespace
}  // namespace torva::sim
