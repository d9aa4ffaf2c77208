// Completion, retry and overflow rules of a device's command queue.

#include <gtest/gtest.h>

#include <vector>

#include "driver/device/command_queue.h"

namespace torva {
namespace {

// Plays the device's passes: each pass first reads the pending reply (if the amplifier answers
// with `status`), then sends the front command. Returns the codes in the order they were sent.
std::vector<int> Drain(CommandQueue& queue, bool confirmed, std::uint8_t status, int maxPasses,
                       bool replies = true) {
  std::vector<int> sent;
  bool replyPending = false;
  for (int pass = 0; pass < maxPasses; ++pass) {
    if (replyPending) {
      queue.RecordReply(status);
      replyPending = false;
    }
    auto code = queue.NextToSend();
    if (!code) continue;
    sent.push_back(*code);
    queue.AfterSend(confirmed);
    replyPending = replies;
  }
  return sent;
}

TEST(CommandQueue, ALoneConfirmedCommandIsSentTwiceBeforeItCompletes) {
  CommandQueue queue;
  ASSERT_TRUE(queue.Push(195));
  EXPECT_EQ(Drain(queue, true, 1, 10), (std::vector<int>{195, 195}));
  EXPECT_EQ(queue.Queued(), 0);
}

TEST(CommandQueue, AConfirmedCommandThatIsNeverDoneIsSentThreeTimesThenTheNextFollows) {
  CommandQueue queue;
  queue.Push(195);
  queue.Push(188);
  EXPECT_EQ(Drain(queue, true, 0, 20), (std::vector<int>{195, 195, 195, 188, 188, 188}));
  EXPECT_EQ(queue.Queued(), 0);
}

TEST(CommandQueue, AnUnconfirmedCommandCompletesOnAnyReply) {
  CommandQueue queue;
  queue.Push(208);
  // Status 0 does not matter for an unconfirmed command; the second send completes it.
  EXPECT_EQ(Drain(queue, false, 0, 10), (std::vector<int>{208, 208}));
}

TEST(CommandQueue, ACommandWithoutReplyIsSentThreeTimes) {
  CommandQueue queue;
  queue.Push(178);
  EXPECT_EQ(Drain(queue, false, 1, 10, /*replies=*/false), (std::vector<int>{178, 178, 178}));
}

TEST(CommandQueue, RepliesToACompletedCommandNeverDecideTheNextOne) {
  CommandQueue queue;
  queue.Push(208);
  Drain(queue, false, 1, 10);
  queue.RecordReply(1);  // the reply to the final send arrives after completion
  EXPECT_EQ(queue.LastReplyStatus(), 1);
  queue.Push(195);
  EXPECT_EQ(Drain(queue, true, 1, 10), (std::vector<int>{195, 195}));
  queue.RecordReply(1);
  queue.Push(208);
  EXPECT_EQ(Drain(queue, false, 1, 10), (std::vector<int>{208, 208}));
}

TEST(CommandQueue, ADeclinedCommandIsDroppedAndTheNextStillNeedsItsOwnReply) {
  CommandQueue queue;
  queue.Push(188);
  queue.Push(177);
  // Replies alternate: the three to Save decline, the ones to ResetSoftware are done.
  std::vector<int> sent;
  std::vector<std::uint8_t> statuses = {0, 0, 0, 1, 1};
  std::size_t reply = 0;
  bool pending = false;
  for (int pass = 0; pass < 10; ++pass) {
    if (pending) queue.RecordReply(statuses.at(reply++));
    auto code = queue.NextToSend();
    pending = code.has_value();
    if (!code) continue;
    sent.push_back(*code);
    queue.AfterSend(true);
  }
  EXPECT_EQ(sent, (std::vector<int>{188, 188, 188, 177, 177}));
}

TEST(CommandQueue, AFullQueueRefusesMoreWithoutOverwritingAndStillDrainsInOrder) {
  CommandQueue queue;
  for (int i = 0; i < CommandQueue::kSlots; ++i) ASSERT_TRUE(queue.Push(200 + i));
  EXPECT_FALSE(queue.Push(999));
  EXPECT_FALSE(queue.Push(998));
  EXPECT_EQ(queue.Refused(), 2);
  EXPECT_EQ(queue.Queued(), CommandQueue::kSlots);

  // Status 1 on every reply: each command completes on its second send.
  std::vector<int> sent = Drain(queue, true, 1, 100);
  std::vector<int> distinct;
  for (int code : sent)
    if (distinct.empty() || distinct.back() != code) distinct.push_back(code);
  ASSERT_EQ(distinct.size(), static_cast<std::size_t>(CommandQueue::kSlots));
  for (int i = 0; i < CommandQueue::kSlots; ++i) EXPECT_EQ(distinct[static_cast<std::size_t>(i)], 200 + i);
  EXPECT_EQ(queue.Queued(), 0);
}

TEST(CommandQueue, OrderSurvivesWrappingAroundTheSlots) {
  CommandQueue queue;
  std::vector<int> sent;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 15; ++i) queue.Push(round * 100 + i);
    for (int code : Drain(queue, false, 1, 100))
      if (sent.empty() || sent.back() != code) sent.push_back(code);
  }
  ASSERT_EQ(sent.size(), 45u);
  for (int round = 0; round < 3; ++round)
    for (int i = 0; i < 15; ++i) EXPECT_EQ(sent[static_cast<std::size_t>(round * 15 + i)], round * 100 + i);
}

}  // namespace
}  // namespace torva
