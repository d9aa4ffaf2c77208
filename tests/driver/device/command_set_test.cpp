// The command table and the packet builders of the amplifier protocol.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iterator>
#include <set>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/command_packet.h"
#include "driver/device/command_set.h"

namespace torva {
namespace {

TEST(CommandTable, CoversEveryCodeOnceBetween176And247) {
  std::set<int> codes;
  for (const CommandInfo& info : kCommandTable) {
    EXPECT_GE(static_cast<int>(info.code), 176);
    EXPECT_LE(static_cast<int>(info.code), 247);
    EXPECT_TRUE(codes.insert(static_cast<int>(info.code)).second) << info.name;
    EXPECT_EQ(FindCommand(static_cast<int>(info.code)), &info);
  }
  EXPECT_EQ(codes.size(), 51u);
  EXPECT_EQ(FindCommand(184), nullptr);
  EXPECT_EQ(FindCommand(248), nullptr);
  EXPECT_EQ(FindCommand(-1), nullptr);
}

// Every row of the protocol's command table, written out as literal numbers so that a wrong row
// in the shared table cannot pass on both the host's and the emulator's side. Payload and reply
// slices are byte offsets in the parameter block (P) or the runtime block (R).
TEST(CommandTable, EveryRowAsTheProtocolStatesIt) {
  enum Where { kNo, kP, kR, kHeader, kCalBlock, kBoot, kStatus };
  struct Row {
    int code, n, c, r, f;
    bool confirmed;
    int request;
    Where payload;
    int offset, bytes;
    Where reply;
    int replyOffset, replyBytes;
  };
  const Row rows[] = {
      {176, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {177, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {178, 1, 1, 0, 0, false, 0xB0, kR, 80, 4, kNo, 0, 0},
      {179, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {180, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {181, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {182, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {183, 1, 1, 1, 1, true, 0xB0, kP, 828, 4, kNo, 0, 0},
      {185, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {186, 1, 1, 1, 1, true, 0xB0, kP, 824, 4, kNo, 0, 0},
      {187, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {188, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {191, 1, 1, 1, 1, true, 0xB0, kR, 52, 4, kNo, 0, 0},
      {192, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {193, 1, 8, 1, 1, true, 0xB0, kHeader, 0, 0, kNo, 0, 0},
      {194, 17, 0, 1, 2, true, 0xB0, kCalBlock, 0, 0, kNo, 0, 0},
      {195, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      {196, 1, 0, 1, 0, true, 0xB0, kNo, 0, 0, kNo, 0, 0},
      // A boot chunk is 64 bytes after the 16-byte header, so its packet takes two blocks.
      {198, 2, 0, 1, 2, true, 0xB2, kBoot, 84, 64, kNo, 0, 0},
      {208, 1, 227, 15, 2, false, 0xB2, kNo, 0, 0, kP, 0, 908},
      {211, 1, 12, 1, 2, true, 0xB0, kP, 48, 12, kNo, 0, 0},
      {212, 1, 28, 1, 2, true, 0xB0, kP, 76, 28, kNo, 0, 0},
      {213, 1, 16, 1, 2, true, 0xB0, kP, 104, 16, kNo, 0, 0},
      {214, 1, 16, 1, 2, true, 0xB0, kP, 120, 16, kNo, 0, 0},
      {215, 1, 16, 1, 2, true, 0xB0, kP, 136, 16, kNo, 0, 0},
      {216, 1, 12, 1, 2, true, 0xB0, kP, 152, 12, kNo, 0, 0},
      {217, 1, 6, 1, 0, true, 0xB0, kP, 720, 24, kNo, 0, 0},
      {218, 1, 6, 1, 0, true, 0xB0, kP, 164, 24, kNo, 0, 0},
      {219, 1, 3, 1, 0, true, 0xB0, kP, 188, 12, kNo, 0, 0},
      {220, 3, 36, 1, 0, true, 0xB0, kP, 200, 144, kNo, 0, 0},
      {221, 2, 24, 1, 0, true, 0xB0, kP, 360, 96, kNo, 0, 0},
      {222, 2, 18, 1, 0, true, 0xB0, kP, 456, 72, kNo, 0, 0},
      {223, 1, 6, 1, 1, true, 0xB0, kP, 528, 24, kNo, 0, 0},
      {224, 1, 6, 1, 0, true, 0xB0, kP, 600, 24, kNo, 0, 0},
      {225, 1, 6, 1, 1, true, 0xB0, kP, 624, 24, kNo, 0, 0},
      {226, 1, 1, 1, 1, true, 0xB0, kP, 744, 4, kNo, 0, 0},
      {227, 1, 1, 1, 1, true, 0xB0, kP, 820, 4, kNo, 0, 0},
      {228, 1, 1, 1, 1, true, 0xB0, kP, 832, 4, kNo, 0, 0},
      {229, 1, 6, 1, 1, true, 0xB0, kP, 860, 24, kNo, 0, 0},
      {230, 1, 6, 1, 1, true, 0xB0, kP, 836, 24, kNo, 0, 0},
      {232, 1, 1, 1, 0, true, 0xB0, kP, 344, 4, kNo, 0, 0},
      {233, 1, 1, 1, 0, true, 0xB0, kP, 348, 4, kNo, 0, 0},
      {234, 1, 6, 1, 0, true, 0xB0, kP, 648, 24, kNo, 0, 0},
      {235, 1, 1, 1, 0, true, 0xB0, kP, 356, 4, kNo, 0, 0},
      {238, 1, 3, 1, 0, true, 0xB0, kP, 884, 12, kNo, 0, 0},
      {240, 1, 12, 1, 0, false, 0xB0, kNo, 0, 0, kP, 552, 48},
      {244, 1, 6, 1, 1, false, 0xB2, kNo, 0, 0, kR, 0, 24},
      {245, 1, 6, 1, 1, false, 0xB2, kNo, 0, 0, kR, 28, 24},
      {246, 1, 12, 1, 0, false, 0xB0, kNo, 0, 0, kP, 672, 48},
      {247, 1, 4, 1, 1, false, 0xB0, kNo, 0, 0, kStatus, 0, 0},
  };
  const auto payloadOf = [](Where where) {
    switch (where) {
      case kP: return PayloadSource::kParameterBlock;
      case kR: return PayloadSource::kRuntimeBlock;
      case kHeader: return PayloadSource::kCalibrationHeader;
      case kCalBlock: return PayloadSource::kCalibrationBlock;
      case kBoot: return PayloadSource::kBootChunk;
      default: return PayloadSource::kNone;
    }
  };
  const auto replyOf = [](Where where) {
    switch (where) {
      case kP: return ReplyDestination::kParameterBlock;
      case kR: return ReplyDestination::kRuntimeBlock;
      case kStatus: return ReplyDestination::kDownloadStatus;
      default: return ReplyDestination::kNone;
    }
  };
  for (const Row& row : rows) {
    const CommandInfo* info = FindCommand(row.code);
    ASSERT_NE(info, nullptr) << row.code;
    SCOPED_TRACE(info->name);
    EXPECT_TRUE(info->transmitted);
    EXPECT_EQ(info->blocks, row.n);
    EXPECT_EQ(info->items, row.c);
    EXPECT_EQ(info->replyBlocks, row.r);
    EXPECT_EQ(info->format, row.f);
    EXPECT_EQ(info->confirmed, row.confirmed);
    EXPECT_EQ(info->request, row.request);
    EXPECT_EQ(info->ReplyRequest(), row.confirmed ? 0xB5 : 0xB4);
    EXPECT_EQ(info->payload, payloadOf(row.payload));
    if (row.payload == kP || row.payload == kR || row.payload == kBoot) {
      EXPECT_EQ(info->payloadSlice.offset, row.offset);
      EXPECT_EQ(info->payloadSlice.bytes, row.bytes);
    }
    EXPECT_EQ(info->reply, replyOf(row.reply));
    if (row.reply == kP || row.reply == kR) {
      EXPECT_EQ(info->replySlice.offset, row.replyOffset);
      EXPECT_EQ(info->replySlice.bytes, row.replyBytes);
    }
  }
  // 197 is known but puts nothing on the wire; the table holds the 50 rows above and it.
  ASSERT_NE(FindCommand(197), nullptr);
  EXPECT_FALSE(FindCommand(197)->transmitted);
  EXPECT_EQ(std::size(rows) + 1, kCommandCount);
}

TEST(CommandPacket, BuildsHeaderPayloadAndPaddingAndParsesBack) {
  const CommandInfo& info = *FindCommand(static_cast<int>(CommandCode::kSetChannelOffsets));
  const float offsets[6] = {1.5f, -2.0f, 3.25f, 0.0f, 7.0f, -0.5f};
  CommandPacketBuffer buffer;
  buffer.fill(0xEE);
  const std::size_t length =
      BuildCommandPacket(info, offsets, sizeof offsets, buffer.data(), buffer.size());
  ASSERT_EQ(length, 64u);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[1], 223);
  EXPECT_EQ(buffer[2], 6);
  EXPECT_EQ(buffer[3], 1);
  EXPECT_EQ(buffer[4], 1);
  for (std::size_t i = 5; i < kPacketHeaderBytes; ++i) EXPECT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(std::memcmp(buffer.data() + 16, offsets, sizeof offsets), 0);
  for (std::size_t i = 16 + sizeof offsets; i < 64; ++i) EXPECT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(buffer[64], 0xEE);  // nothing written past the packet

  const auto view = ParseCommandPacket(buffer.data(), length);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->header.code, 223);
  EXPECT_EQ(view->payloadBytes, 48u);
  EXPECT_EQ(std::memcmp(view->payload, offsets, sizeof offsets), 0);
}

TEST(CommandPacket, RefusesWhatDoesNotFit) {
  const CommandInfo& blink = *FindCommand(static_cast<int>(CommandCode::kBlink));
  std::uint8_t big[64] = {};
  CommandPacketBuffer buffer{};
  EXPECT_EQ(BuildCommandPacket(blink, big, 49, buffer.data(), buffer.size()), 0u);
  EXPECT_EQ(BuildCommandPacket(blink, big, 48, buffer.data(), buffer.size()), 64u);
  EXPECT_EQ(BuildCommandPacket(blink, nullptr, 0, buffer.data(), 63), 0u);
  EXPECT_EQ(BuildCommandPacket(blink, nullptr, 4, buffer.data(), buffer.size()), 0u);
  const CommandInfo& prepare = *FindCommand(static_cast<int>(CommandCode::kPrepareBootLoad));
  EXPECT_EQ(BuildCommandPacket(prepare, nullptr, 0, buffer.data(), buffer.size()), 0u);
  // Parsing: shorter than a block, or a length that disagrees with the block count.
  buffer[0] = 2;
  EXPECT_FALSE(ParseCommandPacket(buffer.data(), 64));
  EXPECT_FALSE(ParseCommandPacket(buffer.data(), 20));
  buffer[0] = 0;
  EXPECT_FALSE(ParseCommandPacket(buffer.data(), 64));
}

TEST(CommandPacket, TakesPayloadsFromTheRecordsAndRefusesBadBootChunkLengths) {
  AmplifierParameterBlock parameters{};
  DeviceRuntimeBlock runtime{};
  parameters.acquisitionRate = 1234;
  runtime.startFrame = 0x5A5;
  CommandPacketBuffer buffer{};
  const CommandInfo& rate = *FindCommand(static_cast<int>(CommandCode::kSetAcquisitionRate));
  ASSERT_EQ(BuildCommandPacketFromRecords(rate, parameters, runtime, buffer.data(), buffer.size()),
            64u);
  std::int32_t value = 0;
  std::memcpy(&value, buffer.data() + 16, sizeof value);
  EXPECT_EQ(value, 1234);
  const CommandInfo& start = *FindCommand(static_cast<int>(CommandCode::kStart));
  ASSERT_EQ(BuildCommandPacketFromRecords(start, parameters, runtime, buffer.data(), buffer.size()),
            64u);
  std::memcpy(&value, buffer.data() + 16, sizeof value);
  EXPECT_EQ(value, 0x5A5);
  // A boot chunk packet has room for a whole 64-byte chunk after its header; a stored length
  // outside 1..64 is refused instead of reading past the chunk.
  const CommandInfo& boot = *FindCommand(static_cast<int>(CommandCode::kBootChunk));
  runtime.bootChunkLength = 64;
  runtime.bootChunk[63] = 0x7E;
  ASSERT_EQ(BuildCommandPacketFromRecords(boot, parameters, runtime, buffer.data(), buffer.size()),
            128u);
  EXPECT_EQ(buffer[16 + 63], 0x7E);
  runtime.bootChunkLength = 5000;
  EXPECT_EQ(BuildCommandPacketFromRecords(boot, parameters, runtime, buffer.data(), buffer.size()),
            0u);
  runtime.bootChunkLength = 0;
  EXPECT_EQ(BuildCommandPacketFromRecords(boot, parameters, runtime, buffer.data(), buffer.size()),
            0u);
  const CommandInfo& block = *FindCommand(static_cast<int>(CommandCode::kCalibrationBlock));
  EXPECT_EQ(BuildCommandPacketFromRecords(block, parameters, runtime, buffer.data(), buffer.size()),
            0u);
}

TEST(ReplyPacket, EchoesCodeAndStatusAndCarriesThePayloadFromByte16) {
  ReplyPacketBuffer buffer{};
  const std::uint8_t payload[3] = {7, 8, 9};
  const std::size_t length = BuildReplyPacket(208, 1, payload, 3, 15, buffer.data(), buffer.size());
  ASSERT_EQ(length, 960u);
  const auto view = ParseReplyPacket(buffer.data(), length);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->code, 208);
  EXPECT_EQ(view->status, 1);
  EXPECT_EQ(buffer[1], 208);
  EXPECT_EQ(buffer[5], 1);
  EXPECT_EQ(view->payload, buffer.data() + 16);
  EXPECT_EQ(view->payload[2], 9);
  EXPECT_EQ(BuildReplyPacket(208, 1, payload, 3, 0, buffer.data(), buffer.size()), 0u);
  EXPECT_FALSE(ParseReplyPacket(buffer.data(), 15));
}

}  // namespace
}  // namespace torva
