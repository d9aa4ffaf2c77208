#include "host/device_instance.h"

#include <utility>

namespace torva::host {

namespace SDD = SabloDigitalDevice;

DeviceInstance::DeviceInstance(std::string name, const DeviceDefinition& definition,
                               SDD::IDevice& device, FrameSink& sink)
    : name_(std::move(name)),
      definition_(definition),
      device_(device),
      host_(name_, definition, sink) {}

CaptureOutcome DeviceInstance::PrepareCapture(SDD::CaptureHandle handle) {
  CaptureSetup* setup = nullptr;
  {
    std::lock_guard<std::mutex> lock(setupsMutex_);
    setups_.push_back(std::make_unique<CaptureSetup>(definition_.syncInputs));
    setup = setups_.back().get();
  }
  host_.BeginCapture(handle);
  CaptureOutcome outcome;
  outcome.accepted = device_.PrepareCapture(handle, setup);
  setup->Close();
  outcome.settings = setup->Settings();
  return outcome;
}

DeviceStatus DeviceInstance::ReadStatus() {
  DeviceStatus status;
  device_.GetStatus(&status.state, &status.needsPrepare);
  return status;
}

}  // namespace torva::host
