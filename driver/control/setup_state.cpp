#include "driver/control/setup_state.h"

#include <algorithm>
#include <cstring>

#include "platform/configuration_directory.h"

namespace torva {
namespace {

template <std::size_t N>
void CopyField(char (&out)[N], const char* field, std::size_t bytes) {
  std::memset(out, 0, N);
  std::memcpy(out, field, std::min(N, bytes));
}

SavedAmplifier SavedEntry(const AmplifierParameterBlock& parameters) {
  SavedAmplifier entry{};
  CopyField(entry.amplifierSerial, parameters.amplifierSerial, sizeof parameters.amplifierSerial);
  CopyField(entry.amplifierModel, parameters.amplifierModel, sizeof parameters.amplifierModel);
  CopyField(entry.platformSerial, parameters.platformSerial, sizeof parameters.platformSerial);
  CopyField(entry.platformModel, parameters.platformModel, sizeof parameters.platformModel);
  return entry;
}

}  // namespace

SetupState::SetupState() : directory_(platform::LocateConfigurationDirectory().path) {
  std::optional<SavedSetup> saved = ReadSetupFile(directory_ + kSetupFileName);
  found_ = saved.has_value();
  if (!saved) return;
  settings_.version = saved->version;
  settings_.savedCount = saved->count;
  settings_.rate = saved->rate;
  settings_.runMode = saved->runMode;
  settings_.genlock = saved->genlock;
  std::lock_guard<std::mutex> lock(savedLock_);
  saved_ = std::move(*saved);
}

SetupCheck SetupState::Check(int count, const std::vector<SerialField>& serials,
                             const std::vector<int>& currentOrder) {
  SetupCheck check;
  {
    std::lock_guard<std::mutex> lock(savedLock_);
    check = CheckSetup(count, found_, saved_, serials, currentOrder);
  }
  status_ = check.status;
  return check;
}

bool SetupState::Save(int count, const AcquisitionSettings& written,
                      const std::vector<AmplifierParameterBlock>& amplifiers) {
  std::vector<SavedAmplifier> entries;
  entries.reserve(amplifiers.size());
  for (const AmplifierParameterBlock& parameters : amplifiers) entries.push_back(SavedEntry(parameters));
  if (!WriteSetupFile(directory_ + kSetupFileName, written.rate, written.runMode, written.genlock,
                      entries))
    return false;
  settings_.savedCount = count;
  std::lock_guard<std::mutex> lock(savedLock_);
  saved_.count = count;
  saved_.entries = std::move(entries);
  return true;
}

void SetupState::SetCheckList(const std::array<int, kMaxAmplifiers>& slots, int count) {
  checkList_ = slots;
  checkListCount_ = count;
}

int SetupState::CopyCheckList(int* out) const {
  const int count = checkListCount_.load();
  if (out != nullptr) std::copy(checkList_.begin(), checkList_.begin() + count, out);
  return count;
}

}  // namespace torva
