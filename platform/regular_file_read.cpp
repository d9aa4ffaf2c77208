#include "platform/regular_file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace torva::platform {
namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

FileReadStatus OpenFailure(int error) {
  return error == ENOENT || error == ENOTDIR ? FileReadStatus::kMissing
                                             : FileReadStatus::kUnreadable;
}

// Reads up to `count` bytes, fewer only at the end of the file; false on a read error.
bool ReadUpTo(int fd, std::size_t count, std::string& out) {
  out.assign(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, out.data() + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  out.resize(done);
  return true;
}

// Opens `path` without blocking, refuses what is not a regular file, and reads
// min(size, limit(size)) bytes, or nothing when `limit` returns a refusal.
template <typename Limit>
FileRead ReadRegular(const std::string& path, Limit limit) {
  FileRead result;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for ever.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.Get() < 0) {
    result.status = OpenFailure(errno);
    return result;
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    result.status = FileReadStatus::kUnreadable;
    return result;
  }
  result.size = static_cast<std::uint64_t>(status.st_size);
  std::size_t count = 0;
  result.status = limit(result.size, count);
  if (result.status != FileReadStatus::kRead) return result;
  if (!ReadUpTo(file.Get(), count, result.bytes)) {
    result.bytes.clear();
    result.status = FileReadStatus::kUnreadable;
  }
  return result;
}

}  // namespace

FileRead ReadRegularFile(const std::string& path, std::uint64_t maxBytes) {
  return ReadRegular(path, [maxBytes](std::uint64_t size, std::size_t& count) {
    if (size > maxBytes) return FileReadStatus::kTooLarge;
    count = static_cast<std::size_t>(size);
    return FileReadStatus::kRead;
  });
}

FileRead ReadRegularFileStart(const std::string& path, std::size_t count) {
  return ReadRegular(path, [count](std::uint64_t size, std::size_t& wanted) {
    wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, count));
    return FileReadStatus::kRead;
  });
}

}  // namespace torva::platform
