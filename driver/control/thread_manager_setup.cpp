// What the control thread learns from the amplifiers and keeps: their replies, the setup check
// against the saved setup, a save, a parameter refresh and the smart plates' downloads.

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "driver/control/library_locks.h"
#include "driver/control/message_numbers.h"
#include "driver/control/reply_payload.h"
#include "driver/control/smart_plate_check.h"
#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
#include "driver/device/calibration_file.h"
#include "driver/device/command_packet.h"
#include "platform/diagnostic_log.h"

namespace torva {
namespace {

constexpr const char* kSaveFailedMessage = "Failure to save configuration file";

}  // namespace

void CThreadManager::OnReplyArrived(platform::WParam wParam, platform::LParam lParam) {
  if (wParam == kReplyReadFailed) return;
  const auto slot = static_cast<int>(lParam);
  CUSBDevice* device = Device(slot);
  if (device == nullptr) return;
  // A copy taken under the device lock: the device thread may refill the slot once the ring
  // has wrapped.
  std::array<std::uint8_t, CUSBDevice::kReplyBufferBytes> entry;
  if (device->CopyReplySlot(static_cast<int>(wParam), entry.data())) ApplyReply(slot, entry.data());
}

void CThreadManager::ApplyReply(int slot, const std::uint8_t* entry) {
  if (slot < 0 || slot >= kMaxAmplifiers || entry == nullptr) return;
  const auto code = static_cast<CommandCode>(entry[offsetof(ReplyPacketHeader, code)]);
  if (code == CommandCode::kStop) {
    stops_.Acknowledge(slot);
    return;
  }
  records_.Edit(slot, [&](AmplifierParameterBlock& parameters, DeviceRuntimeBlock& runtime) {
    if (StoreReplyPayload(code, entry + kPacketHeaderBytes, parameters, runtime))
      progress_.ParametersArrived(slot);
  });
}

void CThreadManager::OnRunSetupCheck(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  RunSetupCheck();
  progress_.SetInitState(kDeviceInitComplete);
}

void CThreadManager::RunSetupCheck() {
  const int count = deviceCount_.load();
  std::vector<SerialField> serials(static_cast<std::size_t>(count));
  for (int slot = 0; slot < count; ++slot) {
    AmplifierParameterBlock parameters{};
    records_.CopyParameters(slot, parameters);
    std::memcpy(serials[static_cast<std::size_t>(slot)].data(), parameters.amplifierSerial,
                sizeof parameters.amplifierSerial);
  }
  const auto order = PlatformOrder();
  const SetupCheck check =
      setup_.Check(count, serials, std::vector<int>(order.begin(), order.begin() + count));
  if (check.order.size() == static_cast<std::size_t>(count)) {
    platform::CriticalSectionLock lock(AssemblyLock());
    order_.Adopt(check.order.data(), count);
    order_.UpdatePositions(count);
  }
  if (!check.message.empty()) errors_.Set("", std::to_string(check.status), check.message);
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
  if (count > 0 && records_.CopyParameters(0, first)) {
    written.rate = first.acquisitionRate;
    written.runMode = first.runMode;
    written.genlock = first.genlock;
  }
  const auto order = PlatformOrder();
  std::vector<AmplifierParameterBlock> amplifiers;
  for (int position = 0; position < count; ++position) {
    AmplifierParameterBlock parameters{};
    if (records_.CopyParameters(order[static_cast<std::size_t>(position)], parameters))
      amplifiers.push_back(parameters);
  }
  if (!setup_.Save(count, written, amplifiers)) {
    errors_.Set("", "", kSaveFailedMessage);
    return false;
  }
  return true;
}

void CThreadManager::Refresh() {
  progress_.BeginRefresh();
  StartParameterRefresh();
}

void CThreadManager::RunSmartPlateCheck() {
  const std::optional<std::string> directory = ReadCalibrationDirectory();
  std::array<int, kMaxAmplifiers> listed{};
  int listedCount = 0;
  const int count = deviceCount_.load();
  for (int slot = 0; slot < count; ++slot) {
    CUSBDevice* device = Device(slot);
    AmplifierParameterBlock parameters{};
    if (device == nullptr || !records_.CopyParameters(slot, parameters)) continue;
    const SmartPlatePlan plan = PlanSmartPlate(parameters, directory);
    switch (plan.step) {
      case SmartPlatePlan::Step::kNothing:
        device->SetDownloadStatus(kDownloadComplete);
        break;
      case SmartPlatePlan::Step::kListFault:
        listed[static_cast<std::size_t>(listedCount++)] = slot;
        device->SetDownloadStatus(kDownloadComplete);
        break;
      case SmartPlatePlan::Step::kDownload:
        device->RequestCalibrationDownload(plan.path);
        break;
      case SmartPlatePlan::Step::kListFileProblem:
        listed[static_cast<std::size_t>(listedCount++)] = slot;
        device->SetDownloadStatus(kDownloadFileProblem);
        break;
    }
  }
  setup_.SetCheckList(listed, listedCount);
}

int CThreadManager::StartCalibrationDownload() {
  const int slot = selectedSlot_.load();
  CUSBDevice* device = Device(slot);
  AmplifierParameterBlock parameters{};
  if (device == nullptr || !records_.CopyParameters(slot, parameters)) return kDownloadNoDevice;
  std::string path;
  const int result = PlanRequestedDownload(parameters, ReadCalibrationDirectory(), path);
  if (result == kDownloadStarted) device->RequestCalibrationDownload(path);
  return result;
}

}  // namespace torva
