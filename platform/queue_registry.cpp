#include "platform/queue_registry.h"

#include <atomic>

namespace torva::platform::detail {

std::uint32_t NextQueueIdentifier() {
  static std::atomic<std::uint32_t> next{0x1000};
  std::uint32_t id = next.fetch_add(1);
  while (id == 0) id = next.fetch_add(1);  // 0 never names a queue, even after a wrap
  return id;
}

std::uint32_t QueueRegistry::Add(std::shared_ptr<MessageQueue> queue) {
  const std::uint32_t id = NextQueueIdentifier();
  std::lock_guard<std::mutex> lock(mutex_);
  queues_[id] = std::move(queue);
  return id;
}

std::shared_ptr<MessageQueue> QueueRegistry::Find(std::uint32_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = queues_.find(id);
  return it == queues_.end() ? nullptr : it->second;
}

bool QueueRegistry::Remove(std::uint32_t id) {
  std::shared_ptr<MessageQueue> queue;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = queues_.find(id);
    if (it == queues_.end()) return false;
    queue = std::move(it->second);
    queues_.erase(it);
  }
  queue->Close();
  return true;
}

}  // namespace torva::platform::detail
