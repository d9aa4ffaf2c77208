#include "platform/worker_thread.h"

#include <system_error>
#include <thread>

namespace torva::platform {

WorkerThread::~WorkerThread() = default;

bool WorkerThread::CreateThread(ThreadPriority priority) {
  priority_ = priority;
  RegisteredQueue registered = RegisterNewThreadQueue();
  queueId_ = registered.id;
  queue_ = registered.queue;
  try {
    std::thread(&WorkerThread::ThreadMain, this).detach();
  } catch (const std::system_error&) {
    UnregisterThreadQueue(queueId_);
    queueId_ = 0;
    queue_.reset();
    return false;
  }
  return true;
}

void WorkerThread::Resume() { resumed_.Set(); }

void WorkerThread::ThreadMain(WorkerThread* self) {
  self->resumed_.Wait();
  AdoptQueueForCurrentThread(RegisteredQueue{self->queueId_, self->queue_});
  self->gotPriority_ = ApplyPriorityToCurrentThread(self->priority_);

  const int exitCode = self->InitInstance() ? self->Run() : self->ExitInstance();

  std::shared_ptr<ThreadHandle> handle = self->handle_;
  const ThreadId id = self->queueId_;
  if (self->autoDelete_) delete self;
  // The queue goes with the thread: posts from now on fail.
  UnregisterThreadQueue(id);
  handle->exitCode_ = exitCode;
  handle->ended_.Set();
}

bool WorkerThread::InitInstance() { return true; }

int WorkerThread::Run() {
  bool idle = true;
  long idleCount = 0;
  for (;;) {
    while (idle && queue_->Empty()) {
      if (!OnIdle(idleCount++)) idle = false;
    }
    if (!idle) queue_->WaitForMessage(std::chrono::hours(24));
    while (!queue_->Empty()) {
      if (!PumpMessage()) return ExitInstance();
      if (IsIdleMessage(current_)) {
        idle = true;
        idleCount = 0;
      }
    }
  }
}

bool WorkerThread::PumpMessage() {
  Message message;
  if (!queue_->TryTake(message)) return true;
  current_ = message;
  if (message.message == kQuitMessage) {
    quitCode_ = static_cast<int>(message.wParam);
    return false;
  }
  if (message.message == kKickIdleMessage) return true;
  if (!PreTranslateMessage(message)) Dispatch(message);
  return true;
}

bool WorkerThread::OnIdle(long /*count*/) { return false; }

int WorkerThread::ExitInstance() { return quitCode_; }

bool WorkerThread::PreTranslateMessage(Message& /*message*/) { return false; }

bool WorkerThread::IsIdleMessage(const Message& /*message*/) { return true; }

void WorkerThread::MapMessage(std::uint32_t message, MessageHandler handler) {
  messageMap_.emplace_back(message, std::move(handler));
}

void WorkerThread::Dispatch(const Message& message) {
  for (auto& [number, handler] : messageMap_) {
    if (number == message.message) {
      handler(message.wParam, message.lParam);
      return;
    }
  }
}

}  // namespace torva::platform
