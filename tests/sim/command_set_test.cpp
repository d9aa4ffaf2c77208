// The command table and the packet builders of the amplifier protocol.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
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

// A few rows checked field by field against the protocol's table.
TEST(CommandTable, RowsMatchTheProtocol) {
  struct Row {
    int code;
    int n, c, r, f;
    bool confirmed;
    int request;
    int offset;
    int bytes;
  };
  const Row rows[] = {
      {223, 1, 6, 1, 1, true, 0xB0, 528, 24},   {220, 3, 36, 1, 0, true, 0xB0, 200, 144},
      {221, 2, 24, 1, 0, true, 0xB0, 360, 96},  {212, 1, 28, 1, 2, true, 0xB0, 76, 28},
      {228, 1, 1, 1, 1, true, 0xB0, 832, 4},    {238, 1, 3, 1, 0, true, 0xB0, 884, 12},
      {183, 1, 1, 1, 1, true, 0xB0, 828, 4},    {226, 1, 1, 1, 1, true, 0xB0, 744, 4},
  };
  for (const Row& row : rows) {
    const CommandInfo* info = FindCommand(row.code);
    ASSERT_NE(info, nullptr) << row.code;
    EXPECT_EQ(info->blocks, row.n) << info->name;
    EXPECT_EQ(info->items, row.c) << info->name;
    EXPECT_EQ(info->replyBlocks, row.r) << info->name;
    EXPECT_EQ(info->format, row.f) << info->name;
    EXPECT_EQ(info->confirmed, row.confirmed) << info->name;
    EXPECT_EQ(info->request, row.request) << info->name;
    EXPECT_EQ(info->payload, PayloadSource::kParameterBlock) << info->name;
    EXPECT_EQ(info->payloadSlice.offset, row.offset) << info->name;
    EXPECT_EQ(info->payloadSlice.bytes, row.bytes) << info->name;
  }
  const CommandInfo* all = FindCommand(208);
  EXPECT_EQ(all->replyBlocks, 15);
  EXPECT_EQ(all->request, kReadBackRequest);
  EXPECT_FALSE(all->confirmed);
  EXPECT_EQ(all->ReplyRequest(), kReplyRequest);
  EXPECT_EQ(all->replySlice.bytes, sizeof(AmplifierParameterBlock));
  const CommandInfo* start = FindCommand(178);
  EXPECT_EQ(start->replyBlocks, 0);
  EXPECT_EQ(start->payload, PayloadSource::kRuntimeBlock);
  EXPECT_EQ(start->payloadSlice.offset, offsetof(DeviceRuntimeBlock, startFrame));
  EXPECT_EQ(FindCommand(194)->blocks, 17);
  EXPECT_EQ(FindCommand(176)->ReplyRequest(), kConfirmReplyRequest);
  EXPECT_FALSE(FindCommand(197)->transmitted);
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
