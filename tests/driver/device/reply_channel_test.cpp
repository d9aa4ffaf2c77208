// The reply channel without threads or USB: how much a due reply reads, where each reply is
// stored, and the bounds of copying an entry out.

#include "driver/device/reply_channel.h"

#include <gtest/gtest.h>

#include <vector>

namespace torva {
namespace {

TEST(ReplyChannel, AReplyIsDueFromItsCommandUntilStoredOrAbandoned) {
  platform::CriticalSection lock;
  ReplyChannel channel(lock);
  EXPECT_FALSE(channel.Due());
  channel.Expect(2);
  EXPECT_TRUE(channel.Due());
  EXPECT_EQ(channel.DueBytes(), 2 * kBlockBytes);
  channel.Expect(static_cast<int>(kMaxReplyBlocks) + 5);
  EXPECT_EQ(channel.DueBytes(), kMaxReplyPacketBytes);  // never past the read buffer
  channel.Abandon();
  EXPECT_FALSE(channel.Due());
}

TEST(ReplyChannel, RepliesFillTheRingInTurnZeroPaddedParsedAndCopiedWithinBounds) {
  platform::CriticalSection lock;
  ReplyChannel channel(lock);
  std::vector<std::uint8_t> reply(kBlockBytes, 0xAB);
  reply[1] = 240;  // code
  reply[5] = 1;    // status
  std::vector<std::uint8_t> entry(ReplyChannel::kEntryBytes, 0xFF);
  for (int i = 0; i < ReplyChannel::kSlots + 1; ++i) {
    channel.Expect(1);
    const ReplyChannel::Stored stored = channel.Store(reply.data(), reply.size());
    EXPECT_EQ(stored.slot, i % ReplyChannel::kSlots);
    EXPECT_FALSE(channel.Due());
    ASSERT_TRUE(stored.reply.has_value());
    EXPECT_EQ(stored.reply->code, 240);
    EXPECT_EQ(stored.reply->status, 1);
  }
  ASSERT_TRUE(channel.CopySlot(0, entry.data()));
  EXPECT_EQ(entry[kBlockBytes - 1], 0xAB);
  EXPECT_EQ(entry[kBlockBytes], 0);  // the rest of the entry is cleared
  EXPECT_EQ(entry.back(), 0);
  // A reply too short for its header is stored but not parsed.
  EXPECT_FALSE(channel.Store(reply.data(), 3).reply.has_value());
  EXPECT_FALSE(channel.CopySlot(-1, entry.data()));
  EXPECT_FALSE(channel.CopySlot(ReplyChannel::kSlots, entry.data()));
  EXPECT_FALSE(channel.CopySlot(0, nullptr));
}

}  // namespace
}  // namespace torva
