#pragma once
// Maps identifiers to live message queues. Thread queues and window targets each have a registry;
// identifiers come from one counter so that no identifier names both. Internal to the platform
// library.

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/message_queue.h"

namespace torva::platform::detail {

std::uint32_t NextQueueIdentifier();

class QueueRegistry {
 public:
  std::uint32_t Add(std::shared_ptr<MessageQueue> queue);
  std::shared_ptr<MessageQueue> Find(std::uint32_t id) const;
  // Removes and closes the queue; false when the identifier was unknown.
  bool Remove(std::uint32_t id);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::uint32_t, std::shared_ptr<MessageQueue>> queues_;
};

}  // namespace torva::platform::detail
