#include "driver/control/slot_records.h"

#include <cstring>

namespace torva {

SlotRecordTable::Slot* SlotRecordTable::Find(int slot) {
  if (slot < 0 || slot >= kMaxAmplifiers) return nullptr;
  return &slots_[static_cast<std::size_t>(slot)];
}

void SlotRecordTable::Allocate(int slot) {
  Slot* records = Find(slot);
  if (records == nullptr) return;
  std::lock_guard<std::mutex> guard(records->lock);
  if (!records->runtime) records->runtime = std::make_unique<DeviceRuntimeBlock>();
  if (!records->parameters) records->parameters = std::make_unique<AmplifierParameterBlock>();
  if (!records->endpoints) records->endpoints = std::make_unique<EndpointTable>();
  std::memset(records->runtime.get(), 0, sizeof(DeviceRuntimeBlock));
  std::memset(records->parameters.get(), 0, sizeof(AmplifierParameterBlock));
  std::memset(records->endpoints.get(), 0, sizeof(EndpointTable));
}

void SlotRecordTable::FreeAll() {
  for (Slot& records : slots_) {
    std::lock_guard<std::mutex> guard(records.lock);
    records.runtime.reset();
    records.parameters.reset();
    records.endpoints.reset();
  }
}

bool SlotRecordTable::CopyParameters(int slot, AmplifierParameterBlock& out) const {
  return Read(slot, [&](const AmplifierParameterBlock& parameters, const DeviceRuntimeBlock&) {
    out = parameters;
  });
}

bool SlotRecordTable::CopyRuntime(int slot, DeviceRuntimeBlock& out) const {
  return Read(slot, [&](const AmplifierParameterBlock&, const DeviceRuntimeBlock& runtime) {
    out = runtime;
  });
}

std::int32_t SlotRecordTable::PacketSize(int slot) const {
  std::int32_t size = 0;
  Read(slot, [&](const AmplifierParameterBlock&, const DeviceRuntimeBlock& runtime) {
    size = runtime.packetSize;
  });
  return size;
}

void SlotRecordTable::SetPacketSize(int slot, std::int32_t packetSize) {
  Edit(slot, [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
    runtime.packetSize = packetSize;
  });
}

std::string SlotRecordTable::AmplifierSerial(int slot) const {
  std::string serial;
  Read(slot, [&](const AmplifierParameterBlock& parameters, const DeviceRuntimeBlock&) {
    serial.assign(parameters.amplifierSerial,
                  strnlen(parameters.amplifierSerial, sizeof parameters.amplifierSerial));
  });
  return serial;
}

}  // namespace torva
