#include "tests/e2e/umockdev_preload.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/simulate_variable.h"

namespace torva::e2e {
namespace {

constexpr const char* kPreloadVariable = "LD_PRELOAD";
constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr const char* kPreloadName = "libumockdev-preload";
constexpr int kExecFailedStatus = 127;

}  // namespace

void EnsureUmockdevPreload(char** argv) {
  ::unsetenv(sim::kSimulateVariable);
  const char* current = std::getenv(kPreloadVariable);
  const std::string preload = current != nullptr ? current : "";
  if (preload.find(kPreloadName) != std::string::npos) return;
  // The preload library goes last: a sanitizer runtime that was preloaded must stay first.
  const std::string wanted = preload.empty() ? kPreloadLibrary : preload + ":" + kPreloadLibrary;
  ::setenv(kPreloadVariable, wanted.c_str(), 1);
  ::execv("/proc/self/exe", argv);
  std::fprintf(stderr, "%s: cannot re-execute itself with %s: %s\n", argv[0], kPreloadLibrary,
               std::strerror(errno));
  std::_Exit(kExecFailedStatus);
}

}  // namespace torva::e2e
