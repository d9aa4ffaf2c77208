#pragma once
// Tests that code handed a FIFO in place of a file does not wait on it. The call runs on a thread
// of its own; should it still be running after a generous limit (stuck opening or reading the
// FIFO), the FIFO is opened for writing and closed again, which releases a reader, so that the
// test fails instead of hanging.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/support/wait_until.h"

namespace torva::testing {

// Creates a FIFO at `path`; false when it could not be made.
inline bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

// Runs `call` and tells whether it returned without anyone writing to the FIFO at `fifo`.
template <typename Call>
bool ReturnsWithoutAWriter(const std::string& fifo, Call&& call) {
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    call();
    returned = true;
  });
  const bool inTime = WaitUntil([&] { return returned.load(); });
  while (!returned.load()) {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) ::close(writer);
    WaitUntil([&] { return returned.load(); }, std::chrono::milliseconds(100));
  }
  caller.join();
  return inTime;
}

}  // namespace torva::testing
