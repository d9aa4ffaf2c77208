#include "tests/e2e/umockdev_preload.h"

#include <link.h>
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
// AddressSanitizer's runtime insists on coming first among the libraries loaded.
constexpr const char* kSanitizerRuntimeName = "libasan";

// The path of a loaded shared library whose name contains `name`; empty when there is none.
std::string LoadedLibrary(const char* name) {
  struct Search {
    const char* name;
    std::string path;
  } search{name, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t /*size*/, void* data) {
        auto* wanted = static_cast<Search*>(data);
        if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, wanted->name) == nullptr) {
          return 0;
        }
        wanted->path = info->dlpi_name;
        return 1;
      },
      &search);
  return search.path;
}

}  // namespace

void EnsureUmockdevPreload(char** argv) {
  ::unsetenv(sim::kSimulateVariable);
  const char* current = std::getenv(kPreloadVariable);
  const std::string preload = current != nullptr ? current : "";
  if (preload.find(kPreloadName) != std::string::npos) return;
  std::string wanted = preload.empty() ? kPreloadLibrary : preload + ":" + kPreloadLibrary;
  // A sanitizer runtime must stay first, so it is preloaded too, ahead of the rest.
  const std::string sanitizer = LoadedLibrary(kSanitizerRuntimeName);
  if (!sanitizer.empty() && preload.find(sanitizer) == std::string::npos) {
    wanted = sanitizer + ":" + wanted;
  }
  ::setenv(kPreloadVariable, wanted.c_str(), 1);
  ::execv("/proc/self/exe", argv);
  std::fprintf(stderr, "%s: cannot re-execute itself with %s: %s\n", argv[0], kPreloadLibrary,
               std::strerror(errno));
  std::_Exit(kExecFailedStatus);
}

}  // namespace torva::e2e
