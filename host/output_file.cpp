#include "host/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace torva::host {
namespace {

// Lines collect up to about this many bytes before they are written.
constexpr std::size_t kBatchBytes = 64 * 1024;
// Permission bits a new file is created with before the umask, as a plain create does.
constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;

std::string Reason(int error) { return std::strerror(error); }

// The file a name stands for: the name itself, or what a symbolic link there names.
std::string Resolve(const std::string& path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, std::string& error,
                                             Placement placement, Units units) {
  if (path.empty()) {
    return std::unique_ptr<OutputFile>(
        new OutputFile(STDOUT_FILENO, "standard output", "", "", units));
  }
  const std::string target = Resolve(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    error = "cannot write " + path + ": " + Reason(errno);
    return nullptr;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    error = "cannot write " + path + ": not a regular file";
    return nullptr;
  }
  if (placement == Placement::kInPlace) {
    // Non-blocking, so that a FIFO put there since the check cannot hold the open up.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK,
                          kNewFileMode);
    struct stat opened {};
    if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      error = "cannot write " + path + ": " + (fd < 0 ? Reason(errno) : "not a regular file");
      if (fd >= 0) ::close(fd);
      return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(fd, path, "", "", units));
  }
  std::vector<char> name(target.begin(), target.end());
  const std::string suffix = ".partial-XXXXXX";
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "cannot create " + path + ": " + Reason(errno);
    return nullptr;
  }
  // mkostemp makes the file private; it gets the permissions of the file it replaces, or those of
  // a plain create.
  mode_t mode = old.st_mode & kPermissionBits;
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = kNewFileMode & ~mask;
  }
  ::fchmod(fd, mode);
  return std::unique_ptr<OutputFile>(new OutputFile(fd, path, target, name.data(), units));
}

OutputFile::OutputFile(int fd, std::string name, std::string target, std::string temporary,
                       Units units)
    : units_(units),
      fd_(fd),
      ownsFd_(fd != STDOUT_FILENO),
      regular_(fd != STDOUT_FILENO),
      name_(std::move(name)),
      target_(std::move(target)),
      temporary_(std::move(temporary)) {}

OutputFile::~OutputFile() {
  if (ownsFd_) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void OutputFile::Fail(int error) {
  if (!failure_) failure_ = "cannot write " + name_ + ": " + Reason(error);
  pending_.clear();
  recordEnds_.clear();
}

std::size_t OutputFile::WholeUpTo(std::size_t limit) const {
  if (units_ == Units::kRecords) {
    std::size_t whole = 0;
    for (const std::size_t end : recordEnds_)
      if (end <= limit) whole = end;
    return whole;
  }
  if (limit == 0) return 0;
  const std::size_t lineEnd = pending_.rfind('\n', limit - 1);
  return lineEnd == std::string::npos ? 0 : lineEnd + 1;
}

void OutputFile::EndRecord() {
  if (!failure_) recordEnds_.push_back(pending_.size());
}

bool OutputFile::WriteAt(long long offset, const std::vector<std::uint8_t>& bytes) {
  // Also after a failure: what was written stays, and rewriting it takes no new space.
  const auto size = static_cast<long long>(bytes.size());
  if (!regular_ || offset < 0 || offset + size > written_) {
    Fail(EINVAL);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      Fail(wrote < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

bool OutputFile::WriteWholeLines() {
  if (failure_) return false;
  const std::size_t count = WholeUpTo(pending_.size());
  if (count == 0) return true;
  std::size_t done = 0;
  while (done < count) {
    const ssize_t wrote = ::write(fd_, pending_.data() + done, count - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      const int error = wrote < 0 ? errno : ENOSPC;
      // Cut the file back to its last whole line (or record): a reader never meets half a row.
      if (regular_) {
        written_ += static_cast<long long>(WholeUpTo(done));
        if (::ftruncate(fd_, written_) != 0) written_ = -1;
      }
      Fail(error);
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  written_ += static_cast<long long>(count);
  pending_.erase(0, count);
  if (units_ == Units::kRecords) {
    std::vector<std::size_t> left;
    for (const std::size_t end : recordEnds_)
      if (end > count) left.push_back(end - count);
    recordEnds_.swap(left);
  }
  return true;
}

bool OutputFile::Flush() { return WriteWholeLines(); }

bool OutputFile::Keep() {
  // Text after the last line end is a line of its own; an unfinished record is left out.
  if (units_ == Units::kLines && !failure_ && !pending_.empty() && pending_.back() != '\n')
    pending_.push_back('\n');
  WriteWholeLines();
  if (!ownsFd_) return !failure_;
  ownsFd_ = false;
  if (::close(fd_) != 0 && !failure_) failure_ = "cannot write " + name_ + ": " + Reason(errno);
  if (temporary_.empty()) return !failure_;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    if (!failure_) failure_ = "cannot put " + name_ + " in place: " + Reason(errno);
    ::unlink(temporary_.c_str());
  }
  temporary_.clear();
  return !failure_;
}

OutputFile::LineBuffer::int_type OutputFile::LineBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char character = traits_type::to_char_type(c);
  return xsputn(&character, 1) == 1 ? c : traits_type::eof();
}

std::streamsize OutputFile::LineBuffer::xsputn(const char* text, std::streamsize count) {
  if (owner_.failure_) return 0;
  owner_.pending_.append(text, static_cast<std::size_t>(count));
  if (owner_.pending_.size() >= kBatchBytes && !owner_.WriteWholeLines()) return 0;
  return count;
}

}  // namespace torva::host
