#pragma once
// Reads the process's own thread count, open file descriptors, context switches and resident
// memory from /proc (the tests and the soak program share it).

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace torva::testing {

// CPU limits in tests catch a spinning thread. Under ThreadSanitizer every memory access costs
// many times more, so such limits mean nothing there; the other builds keep them.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kCpuLimitsApply = false;
#else
inline constexpr bool kCpuLimitsApply = true;
#endif

// Memory-growth limits catch a leak per cycle. The sanitizers hold freed memory back in a
// quarantine and keep shadow memory, so resident memory grows there without any leak (and
// AddressSanitizer's leak checker reports real leaks itself); the normal build keeps them.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMemoryLimitsApply = false;
#else
inline constexpr bool kMemoryLimitsApply = true;
#endif

inline std::size_t ThreadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

// The thread count to compare later counts with. ThreadSanitizer starts a helper thread of its own
// with the process's first thread: one thread is started and joined first so that the helper, if
// any, is already counted.
inline std::size_t ThreadBaseline() {
  std::thread([] {}).join();
  return ThreadCount();
}

// Voluntary context switches of all the process's threads so far: every wake-up of a sleeping
// thread adds one. Preemptions are left out: they count the machine's load, not the process's
// wake-ups.
inline long long ContextSwitches() {
  long long total = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream status(entry.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        total += std::stoll(line.substr(line.find(':') + 1));
      }
    }
  }
  return total;
}

inline std::size_t OpenFileDescriptorCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

inline std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0;
  std::size_t resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace torva::testing
