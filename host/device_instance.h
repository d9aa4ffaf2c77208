#pragma once
// One device the plugin instantiated in the host: its name, its definition, the plugin's device
// (not owned: the plugin keeps its devices alive for as long as the host may call them) and the
// device host it was attached to. The host prepares captures and reads the status through it.
//
// Threads: PrepareCapture from one host thread at a time; ReadStatus and the device host from any.
// Life cycle: made by the instantiator and kept until the instantiator goes.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/capture_setup.h"
#include "host/device_definition.h"
#include "host/device_host.h"
#include "host/frame_sink.h"
#include "plugin/frame/host_interface.h"

namespace torva::host {

struct CaptureOutcome {
  bool accepted = false;     // what PrepareCapture returned
  CaptureSettings settings;  // what the device set during the call
};

struct DeviceStatus {
  std::int32_t state = 0;
  bool needsPrepare = false;
};

class DeviceInstance {
 public:
  DeviceInstance(std::string name, const DeviceDefinition& definition,
                 SabloDigitalDevice::IDevice& device, FrameSink& sink);
  DeviceInstance(const DeviceInstance&) = delete;
  DeviceInstance& operator=(const DeviceInstance&) = delete;

  const std::string& Name() const { return name_; }
  const DeviceDefinition& Definition() const { return definition_; }
  SabloDigitalDevice::IDevice& Device() const { return device_; }
  DeviceHost& Host() { return host_; }

  // Calls the device's PrepareCapture on this thread with a fresh capture setup, which is closed
  // once the call has returned; pushes must carry handle from now on.
  CaptureOutcome PrepareCapture(SabloDigitalDevice::CaptureHandle handle);
  // The device's GetStatus, called on this thread (after a status notification, for instance).
  DeviceStatus ReadStatus();

 private:
  const std::string name_;
  const DeviceDefinition& definition_;
  SabloDigitalDevice::IDevice& device_;
  DeviceHost host_;
  std::mutex setupsMutex_;
  // Every setup handed out, kept so that a device which kept one meets a closed setup, not freed
  // memory. One per capture: a handful in a session.
  std::vector<std::unique_ptr<CaptureSetup>> setups_;
};

}  // namespace torva::host
