// `torvactl status`: brings the library up and reports what it found.

#include <cstdio>

#include "driver/api/TorvaUSBDevice.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/library_session.h"

namespace torvactl {
namespace {

const char* InitStateText(int state) {
  switch (state) {
    case 1: return "finished, no amplifiers";
    case 2: return "finished, amplifiers ready";
    default: return "not finished";
  }
}

}  // namespace

int RunStatus(const std::vector<std::string>& arguments) {
  if (const auto status = ParseNoArguments("torvactl status", arguments)) return *status;
  std::printf("library version: %d\n", fmDLLGetVersionID());
  LibrarySession session;
  std::printf("device count:    %d\n", fmDLLGetDeviceCount());
  std::printf("device init:     %d (%s)\n", session.InitState(), InitStateText(session.InitState()));
  return session.Ready() ? 0 : ReportNotReady();
}

}  // namespace torvactl
