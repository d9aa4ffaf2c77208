#pragma once
// Loads the plugin library at run time and finds its six entry points. A file that cannot be
// loaded (missing, or a library it needs is missing) or a missing entry point gives the loader's
// own text, which names what is missing; an interface version other than 1 is refused. The
// library is closed when the PluginLibrary goes.
//
// Threads: one; the program loads the plugin once. Life cycle: the library stays loaded as long as
// its PluginLibrary lives, so the plugin must have been shut down before it goes.

#include <memory>
#include <string>

#include "plugin/frame/host_interface.h"

namespace torva::host {

// The plugin's entry points, as found by name.
struct PluginExports {
  int (*apiVersion)() = nullptr;
  bool (*initialise)(SabloDigitalDevice::IHostServices*) = nullptr;
  void (*provideDeviceDefinitions)(SabloDigitalDevice::IDefinitionRegistry*) = nullptr;
  void (*beginDeviceInstantiation)(SabloDigitalDevice::IDeviceInstantiator*) = nullptr;
  void (*onManualDeviceInstantiation)(const char*, const char*, const char*) = nullptr;
  void (*shutdown)() = nullptr;
};

class PluginLibrary {
 public:
  // The interface version this host drives.
  static constexpr int kSupportedApiVersion = 1;

  // Loads the library at path; null, with the reason in `failure`, when it cannot be used.
  static std::unique_ptr<PluginLibrary> Load(const std::string& path, std::string& failure);

  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;
  ~PluginLibrary();

  const PluginExports& Exports() const { return exports_; }
  const std::string& Path() const { return path_; }

 private:
  PluginLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  void* handle_;
  std::string path_;
  PluginExports exports_;
};

// The plugin beside the running program: in a build tree <folder of the program>/../lib, in an
// installed tree the plugin folder of the install layout (TORVA_INSTALLED_PLUGIN_DIRECTORY,
// relative to the program's folder, e.g. ../lib/x86_64-linux-gnu/torva). The first of them that
// holds the plugin; the installed one when neither does, so that a failure names where it belongs.
std::string DefaultPluginPath();

}  // namespace torva::host
