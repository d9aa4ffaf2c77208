#include "tests/e2e/command_run.h"

#include <fstream>
#include <sstream>

namespace torva::e2e {

namespace {

std::string Contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

CommandRun RunCommand(const std::vector<std::string>& command, const std::string& stdoutPath,
                      const std::string& stderrPath, std::chrono::milliseconds limit) {
  CommandRun run;
  {
    ChildProcess child(command, stdoutPath, stderrPath);
    run.started = child.Started();
    run.exit = child.Wait(limit);
  }
  run.out = Contents(stdoutPath);
  run.err = Contents(stderrPath);
  return run;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::stringstream stream(text);
  for (std::string field; std::getline(stream, field, separator);) fields.push_back(field);
  return fields;
}

std::vector<long long> StreamingPacketsSent(const std::string& text) {
  constexpr const char* kSuffix = " streaming packets sent";
  std::vector<long long> sent;
  for (const std::string& line : Split(text, '\n')) {
    const auto end = line.rfind(kSuffix);
    if (line.rfind("torva-usbfs-run: amplifier ", 0) != 0 || end == std::string::npos) continue;
    const auto start = line.rfind(' ', end - 1);
    sent.push_back(std::stoll(line.substr(start + 1, end - start - 1)));
  }
  return sent;
}

}  // namespace torva::e2e
