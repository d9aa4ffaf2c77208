#pragma once
// The floor under the library's latency on this machine: the same two hand-offs the library
// makes (device thread to control thread to the application thread), done with nothing but a
// mutex and a condition variable each, at the library's pace and thread priorities. What the
// library adds on top of this is its own; the rest is the machine's scheduling.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/thread_priority.h"

namespace torva::bench {


// One hand-off: a queue of time stamps, a lock and a condition variable.
class HandOff {
 public:
  void Put(std::chrono::steady_clock::time_point stamp) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stamps_.push_back(stamp);
    }
    ready_.notify_one();
  }
  // The next stamp; nothing once closed and empty.
  bool Take(std::chrono::steady_clock::time_point& stamp) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return !stamps_.empty() || closed_; });
    if (stamps_.empty()) return false;
    stamp = stamps_.front();
    stamps_.pop_front();
    return true;
  }
  void Close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::chrono::steady_clock::time_point> stamps_;
  bool closed_ = false;
};

// Latencies in microseconds of `events` stamps taken every `period` by a time-critical producer,
// handed to a time-critical middle thread and on to a consumer (time-critical when
// `realtimeConsumer`), which measures how old each stamp is when it holds it.
inline std::vector<double> HandOffFloor(int events, std::chrono::microseconds period,
                                        bool realtimeConsumer) {

  HandOff first;
  HandOff second;
  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(events));
  std::thread consumer([&] {
    if (realtimeConsumer) platform::ApplyPriorityToCurrentThread(platform::ThreadPriority::kTimeCritical);
    Clock::time_point stamp;
    while (second.Take(stamp))
      latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - stamp).count());
  });
  std::thread middle([&] {
    platform::ApplyPriorityToCurrentThread(platform::ThreadPriority::kTimeCritical);
    Clock::time_point stamp;
    while (first.Take(stamp)) second.Put(stamp);
    second.Close();
  });
  std::thread producer([&] {
    platform::ApplyPriorityToCurrentThread(platform::ThreadPriority::kTimeCritical);
    Clock::time_point next = Clock::now();
    for (int i = 0; i < events; ++i) {
      next += period;
      std::this_thread::sleep_until(next);
      first.Put(Clock::now());
    }
    first.Close();
  });
  producer.join();
  middle.join();
  consumer.join();
  return latencies;
}

}  // namespace torva::bench
