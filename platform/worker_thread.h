#pragma once
// A message-driven worker thread with an idle hook.
//
// Life cycle: construct the object on the heap, call CreateThread (the thread starts suspended,
// but its message queue exists at once, so messages posted before Resume are kept), Resume.
// The thread then runs InitInstance, Run and ExitInstance; when it ends the object deletes
// itself (unless its owner turned that off) and the handle is signalled. After Resume the creator may use the object only for as long
// as it knows the thread still runs; the handle outlives the object and is safe to keep.
//
// Run alternates between an idle phase, in which OnIdle is called with a rising count for as long
// as it returns true and no message is waiting, and a message phase, in which PumpMessage handles
// every waiting message without blocking. When OnIdle has no more idle work (returns false) and
// nothing is queued, Run blocks on the queue until a message arrives: no worker thread ever spins.
// Subclasses whose idle step must keep running pace themselves inside OnIdle.
//
// Threads: every virtual member runs on the worker thread, except CreateThread and Resume, which
// run on the creator's thread. The message map is filled by the constructor and only read after.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/thread_messages.h"
#include "platform/thread_priority.h"

namespace torva::platform {

// Outlives its thread: signalled once the thread has ended and its object has been deleted.
class ThreadHandle {
 public:
  bool HasEnded() const { return ended_.IsSet(); }
  bool WaitForEnd(std::chrono::nanoseconds limit) { return ended_.Wait(limit); }
  int ExitCode() const { return exitCode_.load(); }

 private:
  friend class WorkerThread;
  Event ended_{Event::Reset::kManual};
  std::atomic<int> exitCode_{0};
};

class WorkerThread {
 public:
  using MessageHandler = std::function<void(WParam, LParam)>;

  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  virtual ~WorkerThread();

  // Creates the thread in the suspended state; false when the system refused a thread.
  bool CreateThread(ThreadPriority priority);
  // Lets a suspended thread run. Call once.
  void Resume();

  // By default the object deletes itself when its thread ends. An owner that keeps using the
  // object after the thread has ended (reading its buffers) turns that off and deletes it once
  // the handle says the thread has ended.
  void SetAutoDelete(bool autoDelete) { autoDelete_ = autoDelete; }

  ThreadId Identifier() const { return queueId_; }
  std::shared_ptr<ThreadHandle> Handle() const { return handle_; }
  // Whether the thread asked for real-time scheduling and got it (known once it runs).
  bool GotRequestedPriority() const { return gotPriority_.load(); }

 protected:
  virtual bool InitInstance();
  virtual int Run();
  // Handles at most one message and never blocks. Returns false on the quit message.
  virtual bool PumpMessage();
  // Idle step; return true while more idle work is wanted.
  virtual bool OnIdle(long count);
  virtual int ExitInstance();
  // Sees each message before it is dispatched; return true to consume it.
  virtual bool PreTranslateMessage(Message& message);
  // Whether handling this message should restart the idle phase.
  virtual bool IsIdleMessage(const Message& message);

  // Message map: routes a posted thread message to a handler. Call from the constructor.
  void MapMessage(std::uint32_t message, MessageHandler handler);

  const Message& CurrentMessage() const { return current_; }
  MessageQueue& Queue() { return *queue_; }
  // Exit code that ExitInstance returns by default: the quit message's code.
  int quitCode_ = 0;

 private:
  static void ThreadMain(WorkerThread* self);
  void Dispatch(const Message& message);

  ThreadId queueId_ = 0;
  std::shared_ptr<MessageQueue> queue_;
  std::shared_ptr<ThreadHandle> handle_ = std::make_shared<ThreadHandle>();
  Event resumed_{Event::Reset::kManual};
  ThreadPriority priority_ = ThreadPriority::kNormal;
  bool autoDelete_ = true;
  std::atomic<bool> gotPriority_{false};
  std::vector<std::pair<std::uint32_t, MessageHandler>> messageMap_;
  Message current_;
};

}  // namespace torva::platform
