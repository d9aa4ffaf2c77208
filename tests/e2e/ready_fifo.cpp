#include "tests/e2e/ready_fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>

namespace torva::e2e {
namespace {

// One page: the FIFO is then writable exactly while it is empty.
constexpr int kFifoBytes = 4096;
constexpr mode_t kNodeMode = 0666;

}  // namespace

ReadyFifo::ReadyFifo(const std::string& path) {
  ::unlink(path.c_str());
  if (::mkfifo(path.c_str(), kNodeMode) != 0) return;
  // Opened for reading and writing, the FIFO never blocks its opener and never loses its reader.
  fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ >= 0 && ::fcntl(fd_, F_SETPIPE_SZ, kFifoBytes) < 0) {
    ::close(fd_);
    fd_ = -1;
  }
  SetReady(false);
}

ReadyFifo::~ReadyFifo() {
  if (fd_ >= 0) ::close(fd_);
}

void ReadyFifo::SetReady(bool ready) {
  if (fd_ < 0 || ready == ready_) return;
  ready_ = ready;
  std::array<std::uint8_t, kFifoBytes> page{};
  if (ready) {
    while (::read(fd_, page.data(), page.size()) > 0) {
    }
  } else {
    while (::write(fd_, page.data(), page.size()) > 0) {
    }
  }
}

}  // namespace torva::e2e
