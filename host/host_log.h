#pragma once
// Where torva-host puts the plugin's log lines: every line, with its time and severity, into the
// log file when one was named; information, warnings and errors also to standard error as
// "[info] ...", "[warning] ...", "[error] ..." (trace lines there only when verbose). Texts that
// are not UTF-8 are shown as Windows-1252. It counts the warnings and errors for the summary.
//
// Threads: Write comes from the plugin's threads (through HostServices' echo) and the program's
// own; one lock guards the file, standard error and the counts. Life cycle: made before the
// plugin is initialised and kept until the plugin has shut down.

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "host/host_services.h"
#include "host/output_file.h"

namespace torva::host {

inline constexpr int kTraceSeverity = 0;
inline constexpr int kInfoSeverity = 1;
inline constexpr int kWarningSeverity = 2;
inline constexpr int kErrorSeverity = 3;

// "trace", "info", "warning", "error"; "severity N" for anything else.
std::string SeverityName(int severity);

class HostLog {
 public:
  // errorStream: where the echoed lines go (standard error in the program).
  HostLog(std::FILE* errorStream, bool verbose) : errorStream_(errorStream), verbose_(verbose) {}

  // Opens (truncating) the log file; nothing, or why it cannot be written.
  std::optional<std::string> OpenFile(const std::string& path);
  void Write(const LogLine& line);
  // Why writing the log file failed, once it has: the lines after are lost.
  std::optional<std::string> FileFailure() const;
  // Closes the log file; false (with FileFailure set) when any line of it was lost.
  bool CloseFile();

  int Warnings() const;
  int Errors() const;

 private:
  std::FILE* const errorStream_;
  const bool verbose_;
  mutable std::mutex mutex_;
  std::unique_ptr<OutputFile> file_;
  int warnings_ = 0;
  int errors_ = 0;
};

}  // namespace torva::host
