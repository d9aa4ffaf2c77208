#include "sim/emulated_bus.h"

#include <cstdio>
#include <cstdlib>

#include "sim/simulate_variable.h"

namespace torva::sim {

EmulatedBus& EmulatedBus::Instance() {
  static EmulatedBus bus;
  return bus;
}

EmulatedBus::EmulatedBus() : epoch_(std::chrono::steady_clock::now()) {
  std::lock_guard<std::mutex> lock(mutex_);
  LoadEnvironmentLocked();
}

void EmulatedBus::LoadEnvironmentLocked() {
  for (const auto& device : devices_) device->Unplug();
  devices_.clear();
  environmentProblem_.clear();
  const char* value = std::getenv(kSimulateVariable);
  active_ = value != nullptr && value[0] != '\0';
  if (!active_) return;
  const auto descriptions = ParseSimulateVariable(value);
  if (!descriptions) {
    // The user asked for emulation: stay on the emulated bus, with nothing on it, rather than fall
    // back to real hardware without a word.
    environmentProblem_ = std::string(kSimulateVariable) + "=\"" + value +
                          "\" is neither a count from 0 to 25 nor a list of product types; "
                          "emulating no amplifiers";
    std::fprintf(stderr, "torva: %s\n", environmentProblem_.c_str());
    return;
  }
  for (const auto& description : *descriptions) {
    devices_.push_back(std::make_shared<EmulatedAmplifier>(description, epoch_));
  }
}

std::vector<std::shared_ptr<EmulatedAmplifier>> EmulatedBus::Install(
    const std::vector<AmplifierDescription>& descriptions) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& device : devices_) device->Unplug();
  devices_.clear();
  for (const auto& description : descriptions) {
    devices_.push_back(std::make_shared<EmulatedAmplifier>(description, epoch_));
  }
  active_ = true;
  return devices_;
}

void EmulatedBus::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  LoadEnvironmentLocked();
}

bool EmulatedBus::IsActive() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_;
}

std::vector<std::shared_ptr<EmulatedAmplifier>> EmulatedBus::PresentDevices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<EmulatedAmplifier>> present;
  for (const auto& device : devices_) {
    if (device->Present()) present.push_back(device);
  }
  return present;
}

std::vector<std::shared_ptr<EmulatedAmplifier>> EmulatedBus::Devices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_;
}

std::string EmulatedBus::EnvironmentProblem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return environmentProblem_;
}

}  // namespace torva::sim
