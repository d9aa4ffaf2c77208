#include <gtest/gtest.h>

#include <thread>

#include "platform/window_target.h"

namespace torva::platform {
namespace {

TEST(WindowTarget, ReceivesPostedMessagesInOrder) {
  WindowHandle window = CreateWindowTarget();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostWindowMessage(window, 1132, 3, 0));
  ASSERT_TRUE(PostWindowMessage(window, 1132, 4, 0));
  Message message;
  ASSERT_TRUE(GetWindowMessage(window, message, std::chrono::seconds(30)));
  EXPECT_EQ(message.message, 1132u);
  EXPECT_EQ(message.wParam, 3u);
  ASSERT_TRUE(PeekWindowMessage(window, message));
  EXPECT_EQ(message.wParam, 4u);
  EXPECT_FALSE(PeekWindowMessage(window, message));
  EXPECT_TRUE(DestroyWindowTarget(window));
}

TEST(WindowTarget, AnotherThreadCanPostAndWakeTheReader) {
  WindowHandle window = CreateWindowTarget();
  std::thread poster([window] { PostWindowMessage(window, 1132, 9, 0); });
  Message message;
  EXPECT_TRUE(GetWindowMessage(window, message, std::chrono::hours(24)));
  EXPECT_EQ(message.wParam, 9u);
  poster.join();
  DestroyWindowTarget(window);
}

TEST(WindowTarget, PostsToADestroyedOrUnknownTargetFail) {
  WindowHandle window = CreateWindowTarget();
  ASSERT_TRUE(DestroyWindowTarget(window));
  EXPECT_FALSE(PostWindowMessage(window, 1132, 0, 0));
  EXPECT_FALSE(DestroyWindowTarget(window));
  EXPECT_FALSE(PostWindowMessage(nullptr, 1132, 0, 0));
  Message message;
  EXPECT_FALSE(GetWindowMessage(window, message, std::chrono::milliseconds(1)));
}

TEST(WindowTarget, WindowAndThreadIdentifiersNeverCollide) {
  WindowHandle a = CreateWindowTarget();
  WindowHandle b = CreateWindowTarget();
  EXPECT_NE(a, b);
  DestroyWindowTarget(a);
  DestroyWindowTarget(b);
}

}  // namespace
}  // namespace torva::platform
