#pragma once
// Reads the test process's own thread count and resident memory from /proc.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace torva::testing {

inline std::size_t ThreadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
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
