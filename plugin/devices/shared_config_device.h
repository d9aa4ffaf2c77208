#pragma once
// VSharedConfigDevice: the plugin's one device from initialisation to shutdown. It carries the
// settings every plate shares (synchronisation mode, acquisition rate, Fz threshold) and three
// actions (zero, reset USB, scan for hardware), and is the hub between the driver service and the
// plate devices: it takes the detection result, makes one plate device per amplifier and plate and
// has the host instantiate it, reconciles the rate with what the plates accept, starts and stops
// acquisition through the service, fixes frame 0 of every capture and hands each driver frame to
// every plate.
//
// Threads: the IDevice operations run on host threads; OnDetected, OnRunningChanged and OnData on
// the driver service's worker. When the host asks its status it also looks at the driver's error
// record: the plates of an amplifier that left the bus are then reported not connected and the
// loss is logged as an error. Every entry point holds `mutex` for its whole run. Lock order: this
// device's mutex, then a plate device's; the driver service calls these callbacks holding none of
// its locks, so posting commands and ZeroPlates under `mutex` cannot deadlock.
// Ownership: plate devices are kept (shared) until this device is destroyed, whatever the host
// holds; the host receives raw IDevice pointers and never owns them.

#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "plugin/devices/helix_device.h"
#include "plugin/devices/rate_state.h"
#include "plugin/devices/shared_config_definition.h"
#include "plugin/frame/host_interface.h"
#include "plugin/service/driver_service.h"

namespace Torva {

// Shared state reported by GetStatus and copied to every plate.
enum SharedState : std::int32_t { kStartRequested = 0, kRunning = 1, kStopped = 2 };

class VSharedConfigDevice final : public SabloDigitalDevice::IDevice {
 public:
  VSharedConfigDevice(SabloDigitalDevice::IHostServices* services, VTorvaDriverService* service);
  ~VSharedConfigDevice() override;

  void Attach(SabloDigitalDevice::IDeviceHost* host) override;
  void OnParametersChanged() override;
  bool PrepareCapture(SabloDigitalDevice::CaptureHandle handle,
                      SabloDigitalDevice::ICaptureSetup* setup) override;
  void IgnoredNotification() noexcept override {}
  void SetStartTime(double time) override;
  void OnCaptureStopped() override;
  void GetStatus(std::int32_t* state, bool* needsPrepare) override;

  // The host's instantiator, given when the host begins instantiating devices.
  void SetInstantiator(SabloDigitalDevice::IDeviceInstantiator* instantiator);

  // Driver service callbacks (worker thread).
  void OnDetected(const VTorvaDriverService::VDllInitInfo& info,
                  const std::vector<VTorvaDriverService::VDeviceInfo>& records);
  void OnRunningChanged(bool running);
  void OnData(const float* block);

  // The plate devices of the last detection, in detection order.
  std::vector<std::shared_ptr<VTorvaHelixDevice>> Devices() const;

 private:
  using Lock = boost::lock_guard<boost::mutex>;
  using Key = std::pair<std::string, std::string>;

  // The host's operations, which the overrides run behind the barrier (call_barrier.h).
  void AttachTo(SabloDigitalDevice::IDeviceHost* host);
  void TakeParameterChanges();
  bool Prepare();
  void StoreStartTime(double time);
  void StopCapture();
  void ReportStatus(std::int32_t* state, bool* needsPrepare);
  // Marks the plates of an amplifier the driver reports lost as not connected, and logs the loss
  // as an error, once per loss (under the lock).
  void TakeAmplifierLoss();

  void SetState(std::int32_t value);
  void Instantiate(VTorvaHelixDevice& device, const std::string& platformModel);
  std::uint32_t RequestedRate();
  double RequestedThreshold();
  // Fixes frame 0 from this block; false when the block comes before it can be fixed.
  bool Synchronise(const float* block);

  mutable boost::mutex mutex;
  std::int32_t state = kStopped;
  bool needsPrepare = true;
  bool detectionSucceeded = false;
  bool wasRunning = false;
  std::uint32_t detectedCount = 0;
  std::string errorRecordSeen;  // the driver's error record when last looked at
  RateState rates;
  std::uint32_t currentRate = 0;
  bool synchronised = false;
  bool startTimeSet = false;
  double startTime = 0.0;
  std::int32_t syncMode = 0;
  SabloDigitalDevice::IHostServices* services = nullptr;
  VTorvaDriverService* service = nullptr;
  std::vector<std::shared_ptr<VTorvaHelixDevice>> devices;
  std::vector<Key> deviceKeys;  // the key of each of `devices`
  std::map<Key, std::shared_ptr<VTorvaHelixDevice>> knownDevices;
  // Every plate device ever made: a device the host holds is never destroyed before this one,
  // even when two records of one detection shared a key.
  std::vector<std::shared_ptr<VTorvaHelixDevice>> allDevices;
  std::set<const VTorvaHelixDevice*> instantiated;
  SabloDigitalDevice::IDeviceInstantiator* instantiator = nullptr;
  SabloDigitalDevice::IDeviceHost* host = nullptr;
  std::uint32_t changeKey = 1;
  VSharedConfigDefinition definition;
  // The rate and threshold applied last; a text the host holds that is not usable falls back to
  // them (the parameters' defaults before any capture).
  std::uint32_t lastRate;
  double lastThreshold;
};

}  // namespace Torva
