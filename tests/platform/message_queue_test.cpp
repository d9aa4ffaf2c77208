#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/thread_messages.h"

namespace torva::platform {
namespace {

TEST(ThreadMessages, DeliversInPostingOrder) {
  const ThreadId self = CurrentThreadId();
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(PostThreadMessage(self, kUserMessage + 1, static_cast<WParam>(i), -i));
  Message message;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(PeekMessage(message, true));
    EXPECT_EQ(message.message, kUserMessage + 1);
    EXPECT_EQ(message.wParam, static_cast<WParam>(i));
    EXPECT_EQ(message.lParam, -i);
  }
  EXPECT_FALSE(PeekMessage(message, true));
}

TEST(ThreadMessages, PeekWithoutRemoveLeavesTheMessage) {
  const ThreadId self = CurrentThreadId();
  ASSERT_TRUE(PostThreadMessage(self, 2000, 7, 8));
  Message message;
  ASSERT_TRUE(PeekMessage(message, false));
  EXPECT_EQ(message.message, 2000u);
  ASSERT_TRUE(PeekMessage(message, true));
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_FALSE(PeekMessage(message, true));
}

TEST(ThreadMessages, PostingToAnUnknownIdentifierFails) {
  EXPECT_FALSE(PostThreadMessage(0, kUserMessage, 0, 0));
  EXPECT_FALSE(PostThreadMessage(0xFFFFFFF0u, kUserMessage, 0, 0));
}

TEST(ThreadMessages, PostingToAThreadThatEndedFails) {
  std::atomic<ThreadId> id{0};
  std::thread([&] { id = CurrentThreadId(); }).join();
  ASSERT_NE(id.load(), 0u);
  EXPECT_FALSE(PostThreadMessage(id, kUserMessage, 0, 0));
}

TEST(ThreadMessages, EachThreadHasItsOwnIdentifier) {
  std::atomic<ThreadId> other{0};
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other.load(), CurrentThreadId());
  EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
}

TEST(ThreadMessages, GetMessageBlocksUntilAPostAndReportsQuit) {
  std::atomic<ThreadId> receiver{0};
  std::vector<std::uint32_t> received;
  std::thread thread([&] {
    receiver = CurrentThreadId();
    Message message;
    while (GetMessage(message)) received.push_back(message.message);
    received.push_back(message.message);
  });
  while (receiver.load() == 0) std::this_thread::yield();
  ASSERT_TRUE(PostThreadMessage(receiver, 3000, 0, 0));
  ASSERT_TRUE(PostThreadMessage(receiver, 3001, 0, 0));
  ASSERT_TRUE(PostThreadMessage(receiver, kQuitMessage, 0, 0));
  thread.join();
  EXPECT_EQ(received, (std::vector<std::uint32_t>{3000, 3001, kQuitMessage}));
}

TEST(ThreadMessages, WaitForMessageEndsAtOnceWhenAMessageIsPosted) {
  const ThreadId self = CurrentThreadId();
  std::thread poster([self] { PostThreadMessage(self, 4000, 0, 0); });
  // A day-long limit: only the post can end this wait.
  EXPECT_TRUE(WaitForMessage(std::chrono::hours(24)));
  poster.join();
  Message message;
  ASSERT_TRUE(PeekMessage(message, true));
  EXPECT_EQ(message.message, 4000u);
}

TEST(ThreadMessages, WaitForMessageTimesOutOnAnEmptyQueue) {
  Message message;
  while (PeekMessage(message, true)) {
  }
  EXPECT_FALSE(WaitForMessage(std::chrono::milliseconds(5)));
}

TEST(ThreadMessages, PostQuitMessageCarriesTheExitCode) {
  PostQuitMessage(16);
  Message message;
  EXPECT_FALSE(GetMessage(message));
  EXPECT_EQ(message.message, kQuitMessage);
  EXPECT_EQ(message.wParam, 16u);
}

TEST(ThreadMessages, ManyPostersLoseNothing) {
  const ThreadId self = CurrentThreadId();
  constexpr int kPosters = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p)
    posters.emplace_back([self, p] {
      for (int i = 0; i < kEach; ++i)
        PostThreadMessage(self, 5000, static_cast<WParam>(i), p);
    });
  for (auto& poster : posters) poster.join();
  std::vector<int> next(kPosters, 0);
  Message message;
  int total = 0;
  while (PeekMessage(message, true)) {
    // Each poster's messages arrive in its own order.
    EXPECT_EQ(message.wParam, static_cast<WParam>(next[static_cast<std::size_t>(message.lParam)]++));
    ++total;
  }
  EXPECT_EQ(total, kPosters * kEach);
}

}  // namespace
}  // namespace torva::platform
