#pragma once
// The process-wide set of emulated devices. It is active when TORVA_SIMULATE is set (read once,
// on first use) or when a test installed devices in code; the driver library then uses it in
// place of the real bus. All devices share one bus epoch, so they agree on the USB frame number.
//
// Threads: every member may be called from any thread; one mutex guards the device list. The
// devices themselves are shared: a device stays alive while an opened handle holds it, even after
// it has been unplugged or the bus has been reset.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/amplifier_description.h"
#include "sim/emulated_amplifier.h"

namespace torva::sim {

class EmulatedBus {
 public:
  static EmulatedBus& Instance();

  // Replaces every device on the bus with the described ones (the previous ones are unplugged)
  // and makes the bus active. Returns the new devices in bus order.
  std::vector<std::shared_ptr<EmulatedAmplifier>> Install(
      const std::vector<AmplifierDescription>& descriptions);
  // Unplugs every device and returns the bus to what TORVA_SIMULATE says (inactive when unset).
  void Reset();

  bool IsActive() const;
  // Devices present now (not unplugged), in bus order.
  std::vector<std::shared_ptr<EmulatedAmplifier>> PresentDevices() const;
  // Every device installed, unplugged ones included, in bus order.
  std::vector<std::shared_ptr<EmulatedAmplifier>> Devices() const;
  SteadyTime Epoch() const { return epoch_; }
  // The warning written when TORVA_SIMULATE could not be read; empty when it was fine.
  std::string EnvironmentProblem() const;

 private:
  EmulatedBus();
  void LoadEnvironmentLocked();

  const SteadyTime epoch_;
  mutable std::mutex mutex_;
  bool active_ = false;
  std::string environmentProblem_;
  std::vector<std::shared_ptr<EmulatedAmplifier>> devices_;
};

}  // namespace torva::sim
