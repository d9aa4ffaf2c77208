#pragma once
// One queue of posted messages. Any thread may post; one reader (the owning thread, or the
// application that owns a window-style target) takes messages out in arrival order.
// All members lock the queue's own mutex; none is held while a caller's code runs.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/messages.h"

namespace torva::platform {

class MessageQueue {
 public:
  MessageQueue() = default;
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Appends a message; fails only once the queue has been closed (its owner is gone).
  bool Post(const Message& message);
  // Removes the first message into `out`; false when the queue is empty.
  bool TryTake(Message& out);
  // Copies the first message without removing it; false when the queue is empty.
  bool Peek(Message& out) const;
  bool Empty() const;
  std::size_t Size() const;
  // Waits until a message is queued or the time limit passes; true when a message is queued.
  bool WaitForMessage(std::chrono::nanoseconds limit) const;
  // Waits until a message is queued, then removes it.
  void Take(Message& out);
  // Refuses further posts and drops what is queued.
  void Close();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::deque<Message> messages_;
  bool closed_ = false;
};

}  // namespace torva::platform
