#include "platform/sync.h"

namespace torva::platform {

Event::Event(Reset reset, bool initiallySet) : reset_(reset), set_(initiallySet) {}

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
  }
  if (reset_ == Reset::kManual)
    changed_.notify_all();
  else
    changed_.notify_one();
}

void Event::ResetEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

bool Event::Wait(std::chrono::nanoseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, limit, [this] { return set_; })) return false;
  if (reset_ == Reset::kAuto) set_ = false;
  return true;
}

void Event::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return set_; });
  if (reset_ == Reset::kAuto) set_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

}  // namespace torva::platform
