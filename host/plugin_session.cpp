#include "host/plugin_session.h"

#include "plugin/frame/plugin_exports.h"

namespace torva::host {

PluginSession::PluginSession(std::unique_ptr<PluginLibrary> library, HostLog& log, FrameSink& sink)
    : library_(std::move(library)),
      services_([&log](const LogLine& line) { log.Write(line); }),
      instantiator_(registry_, sink) {}

PluginSession::~PluginSession() {
  Shutdown();
  library_.reset();
}

bool PluginSession::Start() {
  const PluginExports& plugin = library_->Exports();
  initialised_ = true;  // Shutdown follows even a refused Initialise: it only clears what exists
  if (!plugin.initialise(&services_)) return false;
  plugin.provideDeviceDefinitions(&registry_);
  plugin.beginDeviceInstantiation(&instantiator_);
  return true;
}

void PluginSession::InstantiateSharedDevice() {
  library_->Exports().onManualDeviceInstantiation(Torva::kSharedMaker, Torva::kSharedDefinitionName,
                                                  Torva::kSharedVersion);
}

void PluginSession::Shutdown() {
  if (!initialised_) return;
  initialised_ = false;
  library_->Exports().shutdown();
}

}  // namespace torva::host
