// The command sender without threads or USB: which command goes next, how transmissions and
// replies settle the queue and its empty event, and packets built from the record copies.

#include "driver/device/command_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace torva {
namespace {

using Outcome = CommandQueue::SendOutcome;
constexpr std::chrono::milliseconds kNoWait{0};

ReplyPacketView Reply(CommandCode code, std::uint8_t status) {
  return {static_cast<std::uint8_t>(code), status, nullptr, 0};
}

TEST(CommandSender, ACommandSentAheadGoesFirstAndLeavesTheQueueAlone) {
  CommandSender sender;
  ASSERT_TRUE(sender.Enqueue(CommandCode::kBlink));
  sender.SendAhead(CommandCode::kZero);
  const auto ahead = sender.TakeNext();
  ASSERT_TRUE(ahead && !ahead->fromQueue);
  EXPECT_EQ(ahead->code, static_cast<int>(CommandCode::kZero));
  sender.SettleSent(*ahead, Outcome::kAwaitingReply, true);
  EXPECT_EQ(sender.Queue().Queued(), 1);
  const auto queued = sender.TakeNext();
  ASSERT_TRUE(queued && queued->fromQueue);
  EXPECT_EQ(queued->code, static_cast<int>(CommandCode::kBlink));
}

TEST(CommandSender, TheEmptyEventFollowsTheQueueThroughSendsAndReplies) {
  CommandSender sender;
  EXPECT_TRUE(sender.WaitUntilEmpty(kNoWait));
  sender.Enqueue(CommandCode::kBlink);
  EXPECT_FALSE(sender.Idle());
  EXPECT_FALSE(sender.WaitUntilEmpty(kNoWait));
  sender.SettleSent(*sender.TakeNext(), Outcome::kAwaitingReply, true);
  sender.SetLastSentConfirmed(true);
  EXPECT_EQ(sender.ReplyRequest(), kConfirmReplyRequest);
  EXPECT_FALSE(sender.TakeNext().has_value());  // its reply comes first
  EXPECT_TRUE(sender.OnReply(Reply(CommandCode::kBlink, 1)));
  EXPECT_TRUE(sender.WaitUntilEmpty(kNoWait));

  // A command that put nothing on the wire (no amplifier to take it) settles at once.
  sender.Enqueue(CommandCode::kBlink);
  sender.SettleUnsent(*sender.TakeNext(), true);
  EXPECT_TRUE(sender.WaitUntilEmpty(kNoWait));
}

TEST(CommandSender, PacketsComeFromTheRecordCopiesAndReadsInvalidateTheirField) {
  CommandSender sender;
  DeviceRuntimeBlock runtime{};
  runtime.dacValue = 0x1234;
  runtime.tareValid = 1;
  sender.LoadRuntime(runtime);
  const CommandInfo& info = *FindCommand(static_cast<int>(CommandCode::kSetDacValue));
  CommandPacketBuffer packet;
  packet.fill(0xEE);
  ASSERT_EQ(sender.BuildPacket(CommandCode::kSetDacValue, info, packet), info.PacketBytes());
  std::int32_t payload;
  std::memcpy(&payload, packet.data() + kPacketHeaderBytes, sizeof payload);
  EXPECT_EQ(payload, 0x1234);
  EXPECT_EQ(packet[info.PacketBytes()], 0);  // the buffer is cleared past the packet

  const CommandInfo& read = *FindCommand(static_cast<int>(CommandCode::kReadTare));
  ASSERT_GT(sender.BuildPacket(CommandCode::kReadTare, read, packet), 0u);
  EXPECT_EQ(sender.Runtime().tareValid, 0);
}

}  // namespace
}  // namespace torva
