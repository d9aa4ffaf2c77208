#include "host/plugin_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace torva::host {

namespace {

constexpr const char* kPluginFileName = "libTorvaplugin.so";
// Relative to the program's folder: where the build puts the plugin, and where an install does.
constexpr const char* kBuildPluginDirectory = "../lib";
#ifdef TORVA_INSTALLED_PLUGIN_DIRECTORY
constexpr const char* kInstalledPluginDirectory = TORVA_INSTALLED_PLUGIN_DIRECTORY;
#else
constexpr const char* kInstalledPluginDirectory = kBuildPluginDirectory;
#endif

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
  const auto besideProgram = [&program](const char* directory) {
    return (program.parent_path() / directory / kPluginFileName).lexically_normal();
  };
  const std::filesystem::path built = besideProgram(kBuildPluginDirectory);
  if (std::filesystem::is_regular_file(built, error)) return built.string();
  return besideProgram(kInstalledPluginDirectory).string();
}

}  // namespace torva::host
