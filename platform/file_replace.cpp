#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace torva::platform {
namespace {

// Permission bits a new file is created with before the umask, as a plain create does.
constexpr mode_t kNewFileMode = 0666;
// Permission bits copied from the file being replaced (set-id, sticky, rwx).
constexpr mode_t kPermissionBits = 07777;
// Attempts at a temporary name not yet taken.
constexpr int kTemporaryNameAttempts = 100;

std::atomic<unsigned> temporaryCounter{0};

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// Creates a temporary file beside `target`; its descriptor (or -1) and name.
int CreateTemporary(const std::string& target, std::string& name) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    name = target + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(temporaryCounter.fetch_add(1));
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Gives the temporary file the owner, group and permissions of the file it replaces.
bool CopyOwnership(int fd, const struct stat& old) {
  struct stat fresh {};
  if (::fstat(fd, &fresh) != 0) return false;
  if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0)
    return false;
  // After the owner: changing it clears the set-id bits.
  return ::fchmod(fd, old.st_mode & kPermissionBits) == 0;
}

// Writes the temporary file completely and to disk.
bool FillTemporary(int fd, const std::string& bytes, const struct stat* old) {
  if (old != nullptr && !CopyOwnership(fd, *old)) return false;
  return WriteAll(fd, bytes) && ::fsync(fd) == 0;
}

// Flushes the directory entry of a rename to disk; a directory that cannot be synced is no error.
void SyncDirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& bytes) {
  // lstat: a symbolic link is not a regular file and is refused. (Should one be put in its place
  // after this check, the rename replaces the link itself, never the file it names.)
  struct stat old {};
  const bool exists = ::lstat(path.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && !S_ISREG(old.st_mode)) return false;

  std::string temporary;
  const int fd = CreateTemporary(path, temporary);
  if (fd < 0) return false;
  const bool filled = FillTemporary(fd, bytes, exists ? &old : nullptr);
  const bool closed = ::close(fd) == 0;
  if (!filled || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncDirectoryOf(path);
  return true;
}

}  // namespace torva::platform
