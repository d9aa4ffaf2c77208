#include "platform/thread_messages.h"

#include "platform/queue_registry.h"

namespace torva::platform {
namespace {

detail::QueueRegistry& ThreadQueues() {
  // Never destroyed: threads may still post while the process is ending.
  static auto* registry = new detail::QueueRegistry;
  return *registry;
}

// The calling thread's queue; unregistered when the thread ends.
struct ThreadQueueSlot {
  RegisteredQueue registered;
  ~ThreadQueueSlot() {
    if (registered.id != 0) ThreadQueues().Remove(registered.id);
  }
};

thread_local ThreadQueueSlot t_slot;

const RegisteredQueue& EnsureCurrentQueue() {
  if (t_slot.registered.id == 0) t_slot.registered = RegisterNewThreadQueue();
  return t_slot.registered;
}

}  // namespace

RegisteredQueue RegisterNewThreadQueue() {
  RegisteredQueue registered;
  registered.queue = std::make_shared<MessageQueue>();
  registered.id = ThreadQueues().Add(registered.queue);
  return registered;
}

void AdoptQueueForCurrentThread(const RegisteredQueue& registered) {
  if (t_slot.registered.id != 0 && t_slot.registered.id != registered.id)
    ThreadQueues().Remove(t_slot.registered.id);
  t_slot.registered = registered;
}

void UnregisterThreadQueue(ThreadId thread) { ThreadQueues().Remove(thread); }

ThreadId CurrentThreadId() { return EnsureCurrentQueue().id; }

MessageQueue& CurrentQueue() { return *EnsureCurrentQueue().queue; }

bool PostThreadMessage(ThreadId thread, std::uint32_t message, WParam wParam, LParam lParam) {
  if (thread == 0) return false;
  std::shared_ptr<MessageQueue> queue = ThreadQueues().Find(thread);
  return queue && queue->Post(Message{message, wParam, lParam});
}

bool GetMessage(Message& out) {
  CurrentQueue().Take(out);
  return out.message != kQuitMessage;
}

bool PeekMessage(Message& out, bool remove) {
  MessageQueue& queue = CurrentQueue();
  return remove ? queue.TryTake(out) : queue.Peek(out);
}

bool WaitForMessage(std::chrono::nanoseconds limit) { return CurrentQueue().WaitForMessage(limit); }

void PostQuitMessage(int exitCode) {
  CurrentQueue().Post(Message{kQuitMessage, static_cast<WParam>(exitCode), 0});
}

}  // namespace torva::platform
