// The saved setup: read when the control thread is built, compared with the amplifiers once per
// bring-up, written by fmDLLSaveConfiguration; and the parameter refresh.

#include <cstring>

#include "driver/control/library_locks.h"
#include "driver/control/setup_match.h"
#include "driver/control/thread_manager.h"
#include "platform/configuration_directory.h"
#include "platform/diagnostic_log.h"

namespace torva {
namespace {

constexpr const char* kSaveFailedMessage = "Failure to save configuration file";

template <std::size_t N>
void CopyField(char (&out)[N], const char* field, std::size_t bytes) {
  std::memset(out, 0, N);
  std::memcpy(out, field, std::min(N, bytes));
}

}  // namespace

void CThreadManager::LoadSavedSetup() {
  const platform::ConfigurationDirectory directory = platform::LocateConfigurationDirectory();
  configurationDirectory_ = directory.path;
  settings_ = AcquisitionSettings{};
  std::optional<SavedSetup> saved = ReadSetupFile(configurationDirectory_ + kSetupFileName);
  configurationFound_ = saved ? 1 : 0;
  if (!saved) return;
  settings_.version = saved->version;
  settings_.savedCount = saved->count;
  settings_.rate = saved->rate;
  settings_.runMode = saved->runMode;
  settings_.genlock = saved->genlock;
  std::lock_guard<std::mutex> lock(setupMutex_);
  savedSetup_ = std::move(*saved);
}

void CThreadManager::OnRunSetupCheck(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  RunSetupCheck();
  deviceInitState_ = kDeviceInitComplete;
}

void CThreadManager::RunSetupCheck() {
  const int count = deviceCount_.load();
  std::vector<SerialField> serials(static_cast<std::size_t>(count));
  for (int slot = 0; slot < count; ++slot) {
    AmplifierParameterBlock parameters{};
    CopyParameters(slot, parameters);
    std::memcpy(serials[static_cast<std::size_t>(slot)].data(), parameters.amplifierSerial,
                sizeof parameters.amplifierSerial);
  }
  const auto order = PlatformOrder();
  const std::vector<int> current(order.begin(), order.begin() + count);
  SetupCheck check;
  {
    std::lock_guard<std::mutex> lock(setupMutex_);
    check = CheckSetup(count, configurationFound_.load() != 0, savedSetup_, serials, current);
  }
  if (check.order.size() == static_cast<std::size_t>(count)) {
    platform::CriticalSectionLock lock(AssemblyLock());
    std::copy(check.order.begin(), check.order.end(), order_.begin());
    UpdatePositions();
  }
  if (!check.message.empty()) errors_.Set("", std::to_string(check.status), check.message);
  setupStatus_ = check.status;
  if (check.message.empty()) {
    TORVA_LOG_INFO("setup check: %d amplifier(s), status %d", count, check.status);
  } else {
    TORVA_LOG_WARNING("setup check: %d amplifier(s), status %d: %s", count, check.status,
                      check.message.c_str());
  }
}

bool CThreadManager::SaveConfiguration() {
  const int count = deviceCount_.load();
  // The acquisition settings are those of the amplifier in slot 0, whatever its position.
  AcquisitionSettings written;
  AmplifierParameterBlock first{};
  if (count > 0 && CopyParameters(0, first)) {
    written.rate = first.acquisitionRate;
    written.runMode = first.runMode;
    written.genlock = first.genlock;
  }
  const auto order = PlatformOrder();
  std::vector<SavedAmplifier> entries;
  for (int position = 0; position < count; ++position) {
    AmplifierParameterBlock parameters{};
    if (!CopyParameters(order[static_cast<std::size_t>(position)], parameters)) continue;
    SavedAmplifier entry{};
    CopyField(entry.amplifierSerial, parameters.amplifierSerial, sizeof parameters.amplifierSerial);
    CopyField(entry.amplifierModel, parameters.amplifierModel, sizeof parameters.amplifierModel);
    CopyField(entry.platformSerial, parameters.platformSerial, sizeof parameters.platformSerial);
    CopyField(entry.platformModel, parameters.platformModel, sizeof parameters.platformModel);
    entries.push_back(entry);
  }
  if (!WriteSetupFile(configurationDirectory_ + kSetupFileName, written.rate, written.runMode,
                      written.genlock, entries)) {
    errors_.Set("", "", kSaveFailedMessage);
    return false;
  }
  // A later setup check compares against what was just written.
  settings_.savedCount = count;
  std::lock_guard<std::mutex> lock(setupMutex_);
  savedSetup_.count = count;
  savedSetup_.entries = std::move(entries);
  return true;
}

void CThreadManager::Refresh() {
  refreshComplete_ = 0;
  refreshRequested_ = 1;
  StartParameterRefresh();
}

}  // namespace torva
