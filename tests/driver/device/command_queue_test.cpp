// Completion, retry and overflow rules of a device's command queue: every transmission counts.

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

#include "driver/device/command_queue.h"

namespace torva {
namespace {

using Outcome = CommandQueue::SendOutcome;

// An amplifier's answers to successive transmissions: a reply status, or nothing for a failed
// reply read. When the list runs out, every further reply says `otherwise`.
struct Answers {
  std::deque<std::optional<std::uint8_t>> scripted;
  std::uint8_t otherwise = 1;
  std::optional<std::uint8_t> Next() {
    if (scripted.empty()) return otherwise;
    auto answer = scripted.front();
    scripted.pop_front();
    return answer;
  }
};

// Plays the device's passes: each pass first reads the reply due (if any), then sends the next
// command. Returns every transmission in order.
std::vector<int> Drain(CommandQueue& queue, bool confirmed, Answers answers, int maxPasses = 100,
                       bool replies = true) {
  std::vector<int> sent;
  bool replyDue = false;
  for (int pass = 0; pass < maxPasses; ++pass) {
    if (replyDue) {
      const auto answer = answers.Next();
      queue.OnReply(answer.has_value(), answer.value_or(0));
      replyDue = false;
    }
    auto code = queue.NextToSend();
    if (!code) continue;
    sent.push_back(*code);
    queue.AfterSend(replies ? Outcome::kAwaitingReply : Outcome::kNoReply, confirmed);
    replyDue = replies;
  }
  return sent;
}

TEST(CommandQueue, AnAcceptedCommandGoesOnTheWireOnce) {
  CommandQueue confirmed;
  confirmed.Push(195);
  confirmed.Push(194);
  EXPECT_EQ(Drain(confirmed, true, {}), (std::vector<int>{195, 194}));
  EXPECT_EQ(confirmed.Queued(), 0);
  EXPECT_EQ(confirmed.LastReplyStatus(), 1);

  // An unconfirmed command completes on its reply whatever the status.
  CommandQueue unconfirmed;
  unconfirmed.Push(208);
  EXPECT_EQ(Drain(unconfirmed, false, {{}, 0}), (std::vector<int>{208}));
  EXPECT_EQ(unconfirmed.Queued(), 0);
}

TEST(CommandQueue, ARefusedCommandIsSentAgainAtMostThreeTimesInAll) {
  struct Row {
    const char* what;
    bool confirmed;
    std::deque<std::optional<std::uint8_t>> answers;
    std::vector<int> sent;
  };
  const std::vector<Row> rows = {
      {"declined twice, then done", true, {0, 0, 1}, {195, 195, 195, 188}},
      {"declined three times: dropped, the next follows", true, {0, 0, 0}, {195, 195, 195, 188}},
      {"reply read failed once", true, {std::nullopt, 1}, {195, 195, 188}},
      {"unconfirmed, reply read failed", false, {std::nullopt}, {195, 195, 188}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    CommandQueue queue;
    queue.Push(195);
    queue.Push(188);
    EXPECT_EQ(Drain(queue, row.confirmed, {row.answers, 1}), row.sent);
    EXPECT_EQ(queue.Queued(), 0);
  }
}

TEST(CommandQueue, NothingIsSentWhileTheFrontAwaitsItsReply) {
  CommandQueue queue;
  queue.Push(195);
  queue.Push(188);
  ASSERT_EQ(queue.NextToSend(), 195);
  queue.AfterSend(Outcome::kAwaitingReply, true);
  EXPECT_FALSE(queue.NextToSend().has_value());
  queue.OnReply(true, 1);
  EXPECT_EQ(queue.NextToSend(), 188);
}

TEST(CommandQueue, CommandsWithoutReplyFailedSendsAndEmptyPacketsCountAsTheyShould) {
  // Start has no reply: three transmissions.
  CommandQueue start;
  start.Push(178);
  EXPECT_EQ(Drain(start, false, {}, 10, /*replies=*/false), (std::vector<int>{178, 178, 178}));

  // A transfer that fails counts as a refusal: the third failure drops the command.
  CommandQueue failing;
  failing.Push(195);
  for (int send = 0; send < CommandQueue::kMaxSends; ++send) {
    ASSERT_EQ(failing.NextToSend(), 195);
    failing.AfterSend(Outcome::kFailed, true);
  }
  EXPECT_EQ(failing.Queued(), 0);

  // A command with no packet completes at once.
  CommandQueue empty;
  empty.Push(197);
  empty.AfterSend(Outcome::kNothingSent, false);
  EXPECT_EQ(empty.Queued(), 0);
}

TEST(CommandQueue, AReplyNoQueuedCommandAwaitsOnlyUpdatesTheLastStatus) {
  CommandQueue queue;
  queue.Push(195);
  queue.OnReply(true, 0);  // the reply to a command sent outside the queue
  EXPECT_EQ(queue.LastReplyStatus(), 0);
  EXPECT_EQ(queue.Queued(), 1);
  EXPECT_EQ(Drain(queue, true, {}), (std::vector<int>{195}));
}

TEST(CommandQueue, AFullQueueRefusesMoreWithoutOverwritingAndStillDrainsInOrder) {
  CommandQueue queue;
  for (int i = 0; i < CommandQueue::kSlots; ++i) ASSERT_TRUE(queue.Push(200 + i));
  EXPECT_FALSE(queue.Push(999));
  EXPECT_FALSE(queue.Push(998));
  EXPECT_EQ(queue.Refused(), 2);
  EXPECT_EQ(queue.Queued(), CommandQueue::kSlots);

  std::vector<int> expected;
  for (int i = 0; i < CommandQueue::kSlots; ++i) expected.push_back(200 + i);
  EXPECT_EQ(Drain(queue, true, {}), expected);
  EXPECT_EQ(queue.Queued(), 0);
}

TEST(CommandQueue, OrderSurvivesWrappingAroundTheSlots) {
  CommandQueue queue;
  std::vector<int> sent;
  std::vector<int> expected;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 15; ++i) {
      queue.Push(round * 100 + i);
      expected.push_back(round * 100 + i);
    }
    for (int code : Drain(queue, false, {})) sent.push_back(code);
  }
  EXPECT_EQ(sent, expected);
}

}  // namespace
}  // namespace torva
