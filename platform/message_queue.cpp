#include "platform/message_queue.h"

namespace torva::platform {

bool MessageQueue::Post(const Message& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    messages_.push_back(message);
  }
  arrived_.notify_one();
  return true;
}

bool MessageQueue::TryTake(Message& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) return false;
  out = messages_.front();
  messages_.pop_front();
  return true;
}

bool MessageQueue::Peek(Message& out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) return false;
  out = messages_.front();
  return true;
}

bool MessageQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.empty();
}

std::size_t MessageQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

bool MessageQueue::WaitForMessage(std::chrono::nanoseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, limit, [this] { return !messages_.empty(); });
}

void MessageQueue::Take(Message& out) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait(lock, [this] { return !messages_.empty(); });
  out = messages_.front();
  messages_.pop_front();
}

void MessageQueue::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  messages_.clear();
}

}  // namespace torva::platform
