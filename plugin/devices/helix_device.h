#pragma once
// VTorvaHelixDevice: one force plate with its amplifier as the host sees it. It publishes the
// pair's identity and origin as host parameters, turns each driver frame into 16 samples of force,
// moment and centre of pressure in the host's units and axes, numbers them against the start
// counter common to all plates, and pushes them to the host. The host's "Blink" action goes to
// the driver service.
//
// Threads: the IDevice operations and SetConnected run on host threads; ProcessBlock runs on the
// driver service's worker thread, reached through the shared-configuration device, which holds
// its own lock first (lock order: shared-configuration device, then this device). SetFzThreshold,
// SetSyncMode and SetStartCounter store without this device's lock.
// Life cycle: made during a detection, kept by the shared-configuration device until it is itself
// destroyed; attached when the host instantiates it.

#include <array>
#include <atomic>
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <string>

#include "plugin/devices/plate_block.h"
#include "plugin/devices/plate_definition.h"
#include "plugin/frame/host_interface.h"
#include "plugin/service/driver_service.h"

namespace Torva {

class VTorvaHelixDevice final : public SabloDigitalDevice::IDevice {
 public:
  // The device keeps a copy of the chosen plate definition; its parameter holder carries this
  // device's parameter values.
  VTorvaHelixDevice(SabloDigitalDevice::IHostServices* services,
                    const VTorvaDriverService::VDeviceInfo& info,
                    const VTorvaGenericPlateDefinition& definition, std::uint32_t rate,
                    VTorvaDriverService* service);
  ~VTorvaHelixDevice() override;

  void Attach(SabloDigitalDevice::IDeviceHost* host) override;
  void OnParametersChanged() override;
  bool PrepareCapture(SabloDigitalDevice::CaptureHandle handle,
                      SabloDigitalDevice::ICaptureSetup* setup) override;
  // Nothing to do: a plate follows the shared-configuration device's capture state.
  void IgnoredNotification() noexcept override {}
  void SetStartTime(double) noexcept override {}
  void OnCaptureStopped() noexcept override {}
  void GetStatus(std::int32_t* state, bool* needsPrepare) override;

  void SetConnected(bool connected);
  void SetFzThreshold(double newtons) { threshold = newtons; }
  void SetSyncMode(std::int32_t mode) { syncMode = mode; }

  // Used by the shared-configuration device.
  // Processes one driver frame of `stride` plate records per row (worker thread).
  void ProcessBlock(const float* frame, int stride);
  void SetDeviceIndex(std::int32_t index);
  void SetRate(std::uint32_t newRate);
  void SetStatus(std::int32_t newStatus);
  void SetStartCounter(std::int64_t counter) { startCounter = counter; }
  std::int64_t StartCounter() const { return startCounter.load(); }
  bool Connected() const;
  const std::string& Name() const { return name; }
  const std::string& AmplifierSerial() const { return amplifierSerial; }
  const VTorvaGenericPlateDefinition& Definition() const { return definition; }
  std::int32_t DeviceIndex() const;

 private:
  using Lock = boost::lock_guard<boost::mutex>;
  // The host's operations, which the overrides run behind the barrier (call_barrier.h).
  void AttachTo(SabloDigitalDevice::IDeviceHost* host);
  void TakeParameterChanges();
  bool Prepare(SabloDigitalDevice::CaptureHandle handle, SabloDigitalDevice::ICaptureSetup* setup);
  void ReportStatus(std::int32_t* state, bool* needsPrepare) const;
  void PublishConnected();

  mutable boost::mutex mutex;
  VTorvaDriverService* service = nullptr;
  SabloDigitalDevice::IDeviceHost* host = nullptr;
  SabloDigitalDevice::IHostServices* services = nullptr;
  SabloDigitalDevice::IParameterValueBool connected;
  std::int32_t deviceIndex = 0;
  OriginOffsets originOffsets{};
  std::array<std::uint32_t, 3> outputIds{0, 1, 2};
  SabloDigitalDevice::CaptureHandle handle = nullptr;
  std::uint32_t changeKey = 1;
  std::string name;
  VTorvaGenericPlateDefinition definition;
  std::string amplifierModel;
  std::string amplifierSerial;
  std::string platformModel;
  std::string platformSerial;
  std::string firmwareVersion;
  std::int32_t status = 0;
  std::atomic<std::int32_t> syncMode{0};
  std::uint32_t rate = 0;
  std::atomic<std::int64_t> startCounter{0};
  std::int64_t wrapOffset = 0;
  std::int64_t previousCounter = 0;
  // The first block after PrepareCapture only sets the previous counter: a run may begin at any
  // counter, and counting it against 0 would add 2^24 to every frame of the capture.
  bool counterKnown = false;
  std::atomic<double> threshold{0.0};
  BlockOutput output{};
};

}  // namespace Torva
