#pragma once
// A program run to its end for a test: its exit, and what it wrote to standard output and error;
// and the fields of a line of its output.

#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"

namespace torva::e2e {

struct CommandRun {
  bool started = false;
  ChildExit exit;
  std::string out;
  std::string err;
};

// Runs `command` with standard output and error into the two files, waits at most `limit` (then
// kills it), and reads both files back.
CommandRun RunCommand(const std::vector<std::string>& command, const std::string& stdoutPath,
                      const std::string& stderrPath, std::chrono::milliseconds limit);

// The fields of `text` between separators (a trailing separator ends the last field).
std::vector<std::string> Split(const std::string& text, char separator);

// The streaming packets each amplifier sent, in amplifier order, from the lines that
// torva-usbfs-run --statistics wrote into `text` (its standard error).
std::vector<long long> StreamingPacketsSent(const std::string& text);

}  // namespace torva::e2e
