#include "platform/thread_messages.h"

#include <pthread.h>

#include "platform/queue_registry.h"

namespace torva::platform {
namespace {

detail::QueueRegistry& ThreadQueues() {
  // Never destroyed: threads may still post while the process is ending.
  static auto* registry = new detail::QueueRegistry;
  return *registry;
}

// The calling thread's queue; unregistered when the thread ends. The thread-local pointer is
// trivially destructible on purpose: a thread_local with a destructor registers itself with the
// dynamic loader on first use, under the loader's lock, and a thread that first touches its queue
// while another thread unloads a library (waiting for that thread) would deadlock. A thread key's
// destructor does the clean-up instead.
struct ThreadQueueSlot {
  RegisteredQueue registered;
};

thread_local ThreadQueueSlot* t_slot = nullptr;

void ReleaseSlot(void* slot) {
  auto* owned = static_cast<ThreadQueueSlot*>(slot);
  if (owned->registered.id != 0) ThreadQueues().Remove(owned->registered.id);
  delete owned;
}

pthread_key_t CreateSlotKey() {
  pthread_key_t key;
  pthread_key_create(&key, &ReleaseSlot);
  return key;
}

// Created when the library is loaded, before any thread asks for its queue.
const pthread_key_t g_slotKey = CreateSlotKey();

ThreadQueueSlot& Slot() {
  if (t_slot == nullptr) {
    t_slot = new ThreadQueueSlot;
    pthread_setspecific(g_slotKey, t_slot);
  }
  return *t_slot;
}

const RegisteredQueue& EnsureCurrentQueue() {
  ThreadQueueSlot& slot = Slot();
  if (slot.registered.id == 0) slot.registered = RegisterNewThreadQueue();
  return slot.registered;
}

}  // namespace

RegisteredQueue RegisterNewThreadQueue() {
  RegisteredQueue registered;
  registered.queue = std::make_shared<MessageQueue>();
  registered.id = ThreadQueues().Add(registered.queue);
  return registered;
}

void AdoptQueueForCurrentThread(const RegisteredQueue& registered) {
  ThreadQueueSlot& slot = Slot();
  if (slot.registered.id != 0 && slot.registered.id != registered.id)
    ThreadQueues().Remove(slot.registered.id);
  slot.registered = registered;
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
