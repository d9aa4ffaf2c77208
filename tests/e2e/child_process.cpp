#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace torva::e2e {
namespace {

constexpr int kSignalStatusBase = 128;
constexpr mode_t kOutputMode = 0644;

std::chrono::microseconds CpuTime(const rusage& usage) {
  const auto microseconds = [](const timeval& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
  };
  return microseconds(usage.ru_utime) + microseconds(usage.ru_stime);
}

// Waits for the child to end; true when it did within `limit`.
bool AwaitEnd(pid_t pid, std::chrono::milliseconds limit) {
  // Through syscall(): glibc's <sys/pidfd.h> of Debian 12 declares pidfd_open without C linkage.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return true;  // cannot watch it: the blocking wait that follows decides
  pollfd watch{pidfd, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int ready = 0;
  do {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    ready = ::poll(&watch, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
  } while (ready < 0 && errno == EINTR);
  ::close(pidfd);
  return ready > 0;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::string& stdoutPath, const std::string& stderrPath) {
  if (arguments.empty()) return;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdoutPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, kOutputMode);
  }
  if (!stderrPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, kOutputMode);
  }
  pid_t pid = -1;
  if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  Wait();
}

ChildExit ChildProcess::Wait(std::optional<std::chrono::milliseconds> limit) {
  ChildExit exit;
  if (pid_ <= 0) return exit;
  exit.finished = !limit || AwaitEnd(pid_, *limit);
  if (!exit.finished) ::kill(pid_, SIGKILL);
  int status = 0;
  rusage usage{};
  pid_t reaped = -1;
  do {
    reaped = ::wait4(pid_, &status, 0, &usage);
  } while (reaped < 0 && errno == EINTR);
  pid_ = -1;
  if (reaped < 0) return exit;
  exit.cpu = CpuTime(usage);
  if (WIFEXITED(status)) exit.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) exit.status = kSignalStatusBase + WTERMSIG(status);
  return exit;
}

}  // namespace torva::e2e
