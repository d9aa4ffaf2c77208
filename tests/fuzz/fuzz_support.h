#pragma once
// What every fuzz target shares: a failed property stops the run with a message libFuzzer keeps
// beside the crashing input, and parsers that read files get a scratch file of their own process.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Stops the run when a property does not hold; libFuzzer saves the input that broke it.
#define FUZZ_CHECK(condition, message)                                                   \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "fuzz property failed: %s (%s:%d)\n", message, __FILE__, __LINE__); \
      __builtin_trap();                                                                  \
    }                                                                                    \
  } while (false)

namespace torva::fuzz {

// A file in the temporary directory that only this process uses, removed when the run ends
// (libFuzzer ends with exit, which runs the destructors of statics).
class ScratchFile {
 public:
  explicit ScratchFile(const char* stem) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/torva-fuzz-" + stem +
            "-" + std::to_string(getpid());
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Replaces the file at `path` with the bytes; false when it cannot be written.
inline bool WriteScratch(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace torva::fuzz
