// Reply handler: stores the payload of an amplifier's command reply in the slot's records, where
// the getters read it.

#include <array>
#include <cstring>
#include <string>

#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"
#include "driver/device/amplifier_device.h"
#include "driver/device/command_packet.h"
#include "driver/usb/usb_types.h"
#include "platform/diagnostic_log.h"

namespace torva {
namespace {

// The error record's message when an amplifier leaves the bus while the library uses it.
constexpr const char* kDeviceLostMessage = "The amplifier was disconnected.";

void CopyPayload(void* destination, const std::uint8_t* payload, std::size_t bytes) {
  std::memcpy(destination, payload, bytes);
}

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

void CThreadManager::OnDeviceLost(platform::WParam /*wParam*/, platform::LParam lParam) {
  const auto slot = static_cast<int>(lParam);
  if (slot < 0 || slot >= kMaxAmplifiers) return;
  std::string serial;
  {
    SlotRecords& records = slots_[slot];
    std::lock_guard<std::mutex> guard(records.lock);
    if (const AmplifierParameterBlock* parameters = records.parameters.get()) {
      serial.assign(parameters->amplifierSerial,
                    strnlen(parameters->amplifierSerial, sizeof parameters->amplifierSerial));
    }
  }
  TORVA_LOG_WARNING("slot %d: amplifier %s left the bus", slot, serial.c_str());
  // A lost amplifier has no stop left to acknowledge.
  stopAcknowledged_ |= 1u << slot;
  errors_.Set(serial, std::to_string(static_cast<int>(usb::UsbResult::kNoDevice)),
              kDeviceLostMessage);
}

void CThreadManager::ApplyReply(int slot, const std::uint8_t* entry) {
  if (slot < 0 || slot >= kMaxAmplifiers || entry == nullptr) return;
  const auto code = static_cast<CommandCode>(entry[offsetof(ReplyPacketHeader, code)]);
  const std::uint8_t* payload = entry + kPacketHeaderBytes;

  if (code == CommandCode::kStop) {
    ++stopAcknowledgements_;
    stopAcknowledged_ |= 1u << slot;
    return;
  }
  SlotRecords& records = slots_[slot];
  std::lock_guard<std::mutex> guard(records.lock);
  AmplifierParameterBlock* parameters = records.parameters.get();
  DeviceRuntimeBlock* runtime = records.runtime.get();
  if (parameters == nullptr || runtime == nullptr) return;

  switch (code) {
    case CommandCode::kReadAllParameters:
      ++parameterReplies_;
      parametersAnswered_ |= 1u << slot;
      CopyPayload(parameters, payload, sizeof(AmplifierParameterBlock));
      break;
    case CommandCode::kReadMechanicalLimits:
      CopyPayload(parameters->mechanicalLimits, payload, sizeof(parameters->mechanicalLimits));
      runtime->mechanicalLimitsValid = 1;
      break;
    case CommandCode::kReadAutozeroPots:
      CopyPayload(runtime->autozeroPots, payload, sizeof(runtime->autozeroPots));
      runtime->autozeroValid = 1;
      break;
    case CommandCode::kReadTare:
      CopyPayload(runtime->tareValues, payload, sizeof(runtime->tareValues));
      runtime->tareValid = 1;
      break;
    case CommandCode::kReadAnalogLimits:
      CopyPayload(parameters->analogLimits, payload, sizeof(parameters->analogLimits));
      runtime->analogLimitsValid = 1;
      break;
    case CommandCode::kReadDownloadStatus:
      CopyPayload(parameters->downloadStatus, payload, sizeof(parameters->downloadStatus));
      runtime->downloadStatusValid = 1;
      break;
    default:
      break;  // other codes carry nothing the library keeps
  }
}

}  // namespace torva
