#pragma once
// The host side of one device instance, handed to the device's Attach: its parameter settings,
// the set of parameters the host side changed, the frames it pushes and its status notifications.
//
// Host rule: a call from the plugin into the host (PushFrames, NotifyStatusChanged, SetParameter,
// GetParameter, and the changed-parameter calls) never calls back into a device and never waits
// for another host thread, because the plugin may hold its device locks while it calls the host.
// Such a call takes only this object's lock (and the frame sink's), each for a short copy, and
// runs plugin value code (CopyTo, AssignFromBytes) with no host lock held. Only the host's own
// side calls into devices: Instantiate attaches the new device on the calling thread, and the host
// calls PrepareCapture, OnParametersChanged and GetStatus from its own threads.
//
// Threads: every operation may come from any thread; one lock guards the settings, the changed
// set, the capture handle and the notification count. Life cycle: made by the instantiator with
// its instance and kept as long as the instance; the definition and the sink outlive it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/device_definition.h"
#include "host/frame_sink.h"
#include "host/host_call.h"
#include "host/parameter_store.h"
#include "plugin/frame/host_interface.h"

namespace torva::host {

class DeviceHost final : public SabloDigitalDevice::IDeviceHost {
 public:
  DeviceHost(std::string instanceName, const DeviceDefinition& definition, FrameSink& sink);
  DeviceHost(const DeviceHost&) = delete;
  DeviceHost& operator=(const DeviceHost&) = delete;
  ~DeviceHost() = default;

  // Called by the plugin.
  void GetParameter(SabloDigitalDevice::HostResult** result,
                    SabloDigitalDevice::IParameterValue* value, const char* name,
                    const char* text) override;
  void SetParameter(SabloDigitalDevice::HostResult** result,
                    SabloDigitalDevice::IParameterValue* value, const char* name,
                    const char* text) override;
  std::uint32_t ChangedParameterCount() override;
  void GetChangedParameters(SabloDigitalDevice::HostResult** result, std::uint32_t* key,
                            SabloDigitalDevice::ParameterId* ids, std::uint32_t* count) override;
  void PushFrames(SabloDigitalDevice::HostResult** result, SabloDigitalDevice::CaptureHandle handle,
                  std::int64_t firstFrame, std::uint32_t samples, const std::uint32_t* outputIds,
                  std::uint32_t outputCount, const float* values,
                  std::uint32_t valueCount) override;
  void NotifyStatusChanged() override;

  // Host side: a user editing a parameter. Stores the value and adds the parameter's identifier to
  // the changed set; the caller then tells the device through OnParametersChanged.
  Refusal SetByHost(const std::string& name, const SabloDigitalDevice::IParameterValue& value);
  // Host side: assigns the stored setting into target (a host value of the parameter's type).
  Refusal ReadByHost(const std::string& name, SabloDigitalDevice::IParameterValue& target) const;
  // Host side: the handle pushes must carry from now on (set before each PrepareCapture).
  void BeginCapture(SabloDigitalDevice::CaptureHandle handle);
  // Host side: waits until a status notification arrives that no earlier wait has taken; false
  // when none came within limit.
  bool WaitForStatusChange(std::chrono::milliseconds limit);
  std::uint64_t StatusNotificationCount() const;
  const std::string& InstanceName() const { return instanceName_; }

 private:
  // Checks value against the stored parameter's type and stores its bytes; markChanged adds the
  // parameter's identifier to the changed set.
  Refusal Store(const std::string& name, const SabloDigitalDevice::IParameterValue& value,
                bool markChanged);
  Refusal Fetch(const std::string& name, SabloDigitalDevice::IParameterValue& target) const;
  Refusal CheckBlock(SabloDigitalDevice::CaptureHandle handle, std::uint32_t samples,
                     const std::uint32_t* outputIds, std::uint32_t outputCount, const float* values,
                     std::uint32_t valueCount) const;

  const std::string instanceName_;
  std::vector<std::uint32_t> componentCounts_;  // per output identifier (declaration index)
  FrameSink& sink_;

  mutable std::mutex mutex_;
  std::condition_variable statusChanged_;
  ParameterStore store_;
  std::vector<SabloDigitalDevice::ParameterId> changed_;  // in order of first change, no repeats
  std::uint32_t lastReportedCount_ = 0;                   // as ChangedParameterCount last said
  std::optional<SabloDigitalDevice::CaptureHandle> captureHandle_;
  std::uint64_t notifications_ = 0;
  std::uint64_t notificationsTaken_ = 0;
};

}  // namespace torva::host
