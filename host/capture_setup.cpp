#include "host/capture_setup.h"

#include <algorithm>

#include "host/host_call.h"

namespace torva::host {

namespace SDD = SabloDigitalDevice;

namespace {

const char kClosedRefusal[] = "the capture setup is closed: PrepareCapture has returned";

}  // namespace

bool SyncInputSetting::operator==(const SyncInputSetting& other) const {
  return name == other.name && mode == other.mode && timeout == other.timeout &&
         option1 == other.option1 && option2 == other.option2 && option3 == other.option3;
}

void CaptureSetup::SetTicksPerSample(SDD::HostResult** result, std::uint64_t ticks) {
  AnswerCall(result, [&]() -> Refusal {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      ++settings_.lateCalls;
      return std::string(kClosedRefusal);
    }
    // A sample must last at least one tick of the host's clock.
    if (ticks == 0) return std::string("ticks per sample must be at least 1");
    settings_.ticksPerSample = ticks;
    return std::nullopt;
  });
}

void CaptureSetup::ConfigureSyncInput(SDD::HostResult** result, const char* name, int mode,
                                      std::uint32_t timeout, int option1, int option2,
                                      int option3) {
  AnswerCall(result, [&]() -> Refusal {
    const std::string syncInput = TextOf(name);
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      ++settings_.lateCalls;
      return std::string(kClosedRefusal);
    }
    if (std::find(syncInputs_.begin(), syncInputs_.end(), syncInput) == syncInputs_.end()) {
      return "unknown sync input \"" + syncInput + "\"";
    }
    settings_.syncInput = SyncInputSetting{syncInput, mode, timeout, option1, option2, option3};
    return std::nullopt;
  });
}

void CaptureSetup::SetCaptureOption(int option) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    ++settings_.lateCalls;
    return;
  }
  settings_.captureOption = option;
}

void CaptureSetup::SetSamplesPerBlock(SDD::HostResult** result, std::uint32_t samples) {
  AnswerCall(result, [&]() -> Refusal {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      ++settings_.lateCalls;
      return std::string(kClosedRefusal);
    }
    if (samples == 0) return std::string("samples per block must be at least 1");
    settings_.samplesPerBlock = samples;
    return std::nullopt;
  });
}

void CaptureSetup::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
}

CaptureSettings CaptureSetup::Settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

}  // namespace torva::host
