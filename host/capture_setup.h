#pragma once
// The capture setup a device fills in during PrepareCapture: ticks of the host clock per sample,
// the sync input it listens on (name and the five numbers given with it), the capture option and
// the samples per pushed block. The host makes one per PrepareCapture call and closes it when the
// call returns; from then on every call is refused (SetCaptureOption, which has no result, is
// ignored and counted), so a device that kept the pointer is caught instead of changing a capture
// already set up.
//
// Threads: the device calls it on the thread of PrepareCapture; a late call may come from any
// thread, so one lock guards the settings. Life cycle: the device instance keeps every setup it
// made until it goes, so a kept pointer never dangles while the instance lives.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "plugin/frame/host_interface.h"

namespace torva::host {

struct SyncInputSetting {
  std::string name;
  int mode = 0;
  std::uint32_t timeout = 0;
  int option1 = 0;
  int option2 = 0;
  int option3 = 0;

  bool operator==(const SyncInputSetting& other) const;
};

// What a device set during one PrepareCapture; unset fields were not called.
struct CaptureSettings {
  std::optional<std::uint64_t> ticksPerSample;
  std::optional<SyncInputSetting> syncInput;
  std::optional<int> captureOption;
  std::optional<std::uint32_t> samplesPerBlock;
  std::uint32_t lateCalls = 0;  // calls refused or ignored after the setup was closed
};

class CaptureSetup final : public SabloDigitalDevice::ICaptureSetup {
 public:
  // syncInputs: the names the device's definition declared; another name is refused.
  explicit CaptureSetup(std::vector<std::string> syncInputs) : syncInputs_(std::move(syncInputs)) {}
  CaptureSetup(const CaptureSetup&) = delete;
  CaptureSetup& operator=(const CaptureSetup&) = delete;
  ~CaptureSetup() = default;

  void SetTicksPerSample(SabloDigitalDevice::HostResult** result, std::uint64_t ticks) override;
  void ConfigureSyncInput(SabloDigitalDevice::HostResult** result, const char* name, int mode,
                          std::uint32_t timeout, int option1, int option2, int option3) override;
  void SetCaptureOption(int option) override;
  void SetSamplesPerBlock(SabloDigitalDevice::HostResult** result, std::uint32_t samples) override;

  // Called by the host once PrepareCapture has returned.
  void Close();
  CaptureSettings Settings() const;

 private:
  const std::vector<std::string> syncInputs_;
  mutable std::mutex mutex_;
  bool closed_ = false;
  CaptureSettings settings_;
};

}  // namespace torva::host
