#pragma once
// SetupState: the saved setup and what the library knows from it: where the configuration
// directory is, the acquisition settings, the amplifiers of the saved setup, the status of the
// last setup check, and the list of plates the last smart-plate check found wanting.
//
// Threads: the constructor reads the saved setup (the caller's thread, inside fmDLLInit). The
// setup check runs on the control thread, a save and the settings' setters on the caller's
// thread: the saved amplifiers are guarded by this object's own lock, which is taken for each
// whole read or replacement and with no other lock held. The settings record is written by the
// caller's thread only, as the exported setters run there; the status and the check list's
// count are atomics any thread may read.

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "driver/control/acquisition_settings.h"
#include "driver/control/control_limits.h"
#include "driver/control/setup_match.h"
#include "driver/device/amplifier_parameter_block.h"

namespace torva {

class SetupState {
 public:
  // Locates the configuration directory and reads the saved setup from it.
  SetupState();

  const std::string& ConfigurationDirectory() const { return directory_; }
  bool ConfigurationFound() const { return found_; }

  const AcquisitionSettings& Settings() const { return settings_; }
  void SetRate(std::int32_t rate) { settings_.rate = rate; }
  void SetRunMode(std::int32_t runMode) { settings_.runMode = runMode; }
  void SetGenlock(std::int32_t genlock) { settings_.genlock = genlock; }

  // Compares `count` attached amplifiers (their serials by slot, their order by position) with
  // the saved setup and records the check's status.
  SetupCheck Check(int count, const std::vector<SerialField>& serials,
                   const std::vector<int>& currentOrder);
  int Status() const { return status_.load(); }

  // Writes the setup file for `count` amplifiers whose parameter blocks are `amplifiers`, in
  // platform order, with the settings of `written`. On success a later check compares against
  // what was written; false when the file cannot be written.
  bool Save(int count, const AcquisitionSettings& written,
            const std::vector<AmplifierParameterBlock>& amplifiers);

  // The slots the last smart-plate check listed.
  void SetCheckList(const std::array<int, kMaxAmplifiers>& slots, int count);
  int CopyCheckList(int* out) const;

 private:
  std::string directory_;
  bool found_ = false;  // written only while constructing
  AcquisitionSettings settings_;
  mutable std::mutex savedLock_;
  SavedSetup saved_;  // guarded by savedLock_
  std::atomic<int> status_{kSetupNotChecked};
  std::array<int, kMaxAmplifiers> checkList_{};
  std::atomic<int> checkListCount_{0};
};

}  // namespace torva
