#include "host/plugin_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace torva::host {

namespace {

constexpr const char* kPluginFileName = "libTorvaplugin.so";

std::string LastLoaderError(const std::string& fallback) {
  const char* text = ::dlerror();
  return text != nullptr ? text : fallback;
}

// Finds `name` in the library into `target`; false, with the loader's text, when it is missing.
template <typename Function>
bool FindExport(void* handle, const char* name, Function& target, std::string& failure) {
  ::dlerror();
  void* symbol = ::dlsym(handle, name);
  if (symbol == nullptr) {
    failure = LastLoaderError(std::string("entry point ") + name + " not found");
    return false;
  }
  target = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Load(const std::string& path, std::string& failure) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    failure = LastLoaderError("cannot load " + path);
    return nullptr;
  }
  std::unique_ptr<PluginLibrary> library(new PluginLibrary(handle, path));
  PluginExports& exports = library->exports_;
  if (!FindExport(handle, "PluginAPIVersion", exports.apiVersion, failure) ||
      !FindExport(handle, "Initialise", exports.initialise, failure) ||
      !FindExport(handle, "ProvideDeviceDefinitions", exports.provideDeviceDefinitions, failure) ||
      !FindExport(handle, "BeginDeviceInstantiation", exports.beginDeviceInstantiation, failure) ||
      !FindExport(handle, "OnManualDeviceInstantiation", exports.onManualDeviceInstantiation,
                  failure) ||
      !FindExport(handle, "Shutdown", exports.shutdown, failure)) {
    return nullptr;
  }
  const int version = exports.apiVersion();
  if (version != kSupportedApiVersion) {
    failure = path + " implements plugin interface version " + std::to_string(version) +
              "; this host drives version " + std::to_string(kSupportedApiVersion);
    return nullptr;
  }
  return library;
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

std::string DefaultPluginPath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return kPluginFileName;
  return (program.parent_path() / ".." / "lib" / kPluginFileName).lexically_normal().string();
}

}  // namespace torva::host
