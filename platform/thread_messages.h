#pragma once
// Per-thread message queues addressed by a 32-bit thread identifier, as the driver library and its
// callers use them to talk across threads.
//
// A thread gets its queue either when a WorkerThread creates it (before the thread runs, so that
// nothing posted before its first wait is lost) or on its first call to CurrentThreadId() or any
// of the calling-thread functions below. The queue is released when the thread ends; posting to
// an identifier without a queue fails.

#include <chrono>
#include <memory>

#include "platform/message_queue.h"
#include "platform/messages.h"

namespace torva::platform {

// Identifier of the calling thread's queue, creating the queue on first use.
ThreadId CurrentThreadId();

// Posts to a thread's queue; false when no queue has that identifier.
bool PostThreadMessage(ThreadId thread, std::uint32_t message, WParam wParam, LParam lParam);

// Calling-thread queue operations.
// Blocks until a message arrives; returns false when it is the quit message.
bool GetMessage(Message& out);
// Non-blocking: copies (and with `remove`, removes) the first message; false when there is none.
bool PeekMessage(Message& out, bool remove);
// Waits until the calling thread's queue holds a message or the limit passes.
bool WaitForMessage(std::chrono::nanoseconds limit);
// Posts the quit message with the exit code to the calling thread.
void PostQuitMessage(int exitCode);

// The calling thread's queue (created on first use).
MessageQueue& CurrentQueue();

// --- Used by WorkerThread ---------------------------------------------------------------------
// Creates and registers a queue for a thread that does not run yet.
struct RegisteredQueue {
  ThreadId id = 0;
  std::shared_ptr<MessageQueue> queue;
};
RegisteredQueue RegisterNewThreadQueue();
// Makes a registered queue the calling thread's own; it is unregistered when the thread ends.
void AdoptQueueForCurrentThread(const RegisteredQueue& registered);
// Unregisters and closes a queue whose thread will never run.
void UnregisterThreadQueue(ThreadId thread);

}  // namespace torva::platform
