#include "tests/e2e/deadline_thread.h"

#include <utility>

namespace torva::e2e {

DeadlineThread::DeadlineThread(Service service)
    : service_(std::move(service)), thread_([this] { Run(); }) {}

DeadlineThread::~DeadlineThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void DeadlineThread::Kick() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    kicked_ = true;
  }
  wake_.notify_one();
}

void DeadlineThread::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    kicked_ = false;
    // The service runs without the lock, so that it may kick.
    lock.unlock();
    const std::optional<SteadyTime> next = service_(std::chrono::steady_clock::now());
    lock.lock();
    const auto woken = [this] { return kicked_ || stopping_; };
    if (next) {
      wake_.wait_until(lock, *next, woken);
    } else {
      wake_.wait(lock, woken);
    }
  }
}

}  // namespace torva::e2e
