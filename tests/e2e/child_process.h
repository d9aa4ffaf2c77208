#pragma once
// Starts a program as a child process and waits for it, with a deadline if wanted; reports how it
// ended and the processor time it (and the children it waited for) used.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace torva::e2e {

struct ChildExit {
  bool finished = false;  // false: the deadline passed and the child was killed
  int status = -1;        // exit status, or 128 + signal number
  std::chrono::microseconds cpu{0};  // user + system time
};

class ChildProcess {
 public:
  // Starts `arguments` (the program is looked up in PATH) with this process's environment.
  // Standard output and error go to the named files when given, else they are inherited.
  ChildProcess(const std::vector<std::string>& arguments, const std::string& stdoutPath = "",
               const std::string& stderrPath = "");
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Kills and reaps a child that is still running.
  ~ChildProcess();

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Waits until the child ends, or kills it once `limit` has passed (none: waits as long as it
  // takes).
  ChildExit Wait(std::optional<std::chrono::milliseconds> limit = std::nullopt);

 private:
  pid_t pid_ = -1;
};

}  // namespace torva::e2e
