#pragma once
// A file-size limit (RLIMIT_FSIZE) on this process for the life of the object, with SIGXFSZ
// ignored, so that a write past the limit fails part-way with EFBIG as on a full disk.
// The previous limit and signal handling come back afterwards.

#include <sys/resource.h>

#include <csignal>

namespace torva::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    applied_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool Applied() const { return applied_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
  bool applied_ = false;
};

}  // namespace torva::testing
