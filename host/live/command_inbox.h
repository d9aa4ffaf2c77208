#pragma once
// The commands the pages sent, waiting for the program's main thread.
//
// Threads: Push from the server's thread, Take from the main thread; one lock guards the queue.

#include <mutex>
#include <vector>

#include "host/live/live_messages.h"

namespace torva::host::live {

class CommandInbox {
 public:
  void Push(const LiveCommand& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command);
  }
  std::vector<LiveCommand> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LiveCommand> taken;
    taken.swap(commands_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::vector<LiveCommand> commands_;
};

}  // namespace torva::host::live
