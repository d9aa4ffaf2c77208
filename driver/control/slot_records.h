#pragma once
// SlotRecordTable: the records the control thread keeps for each slot (runtime block, parameter
// block, endpoint table) and the lock of each slot.
//
// Threads: any thread (the exported functions on the caller's thread, the control thread's
// handlers, the packet handler's load test) reads and writes a slot's records, always through
// these members, each of which takes that slot's lock for one whole copy or edit and releases it
// before returning. A slot's lock may be taken inside the assembly lock; the callbacks given to
// Edit, Read and EditEndpoints may take a device's lock, and no other.
//
// Life cycle: a slot's records exist from its bring-up (Allocate) to the shutdown (FreeAll);
// every member reports an absent slot (no records, or outside 0..kMaxAmplifiers-1) as false or 0.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "driver/control/control_limits.h"
#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/device_runtime_block.h"
#include "driver/device/endpoint_table.h"

namespace torva {

class SlotRecordTable {
 public:
  // Allocates the slot's records where absent and zeroes them.
  void Allocate(int slot);
  void FreeAll();

  // Runs `edit(parameters, runtime)` on the slot's records under its lock; false when absent.
  template <typename EditRecords>
  bool Edit(int slot, EditRecords&& edit) {
    Slot* records = Find(slot);
    if (records == nullptr) return false;
    std::lock_guard<std::mutex> guard(records->lock);
    if (!records->parameters || !records->runtime) return false;
    edit(*records->parameters, *records->runtime);
    return true;
  }
  // Runs `read(parameters, runtime)` on the slot's records under its lock; false when absent.
  template <typename ReadRecords>
  bool Read(int slot, ReadRecords&& read) const {
    return const_cast<SlotRecordTable*>(this)->Edit(
        slot, [&](const AmplifierParameterBlock& parameters, const DeviceRuntimeBlock& runtime) {
          read(parameters, runtime);
        });
  }
  // Runs `edit(endpoints)` on the slot's endpoint table under its lock; false when absent.
  template <typename EditTable>
  bool EditEndpoints(int slot, EditTable&& edit) {
    Slot* records = Find(slot);
    if (records == nullptr) return false;
    std::lock_guard<std::mutex> guard(records->lock);
    if (!records->endpoints) return false;
    edit(*records->endpoints);
    return true;
  }

  bool CopyParameters(int slot, AmplifierParameterBlock& out) const;
  bool CopyRuntime(int slot, DeviceRuntimeBlock& out) const;
  // The slot's runtime packet size; 0 when absent.
  std::int32_t PacketSize(int slot) const;
  void SetPacketSize(int slot, std::int32_t packetSize);
  // The amplifier serial of the slot's parameter block, up to its first NUL; "" when absent.
  std::string AmplifierSerial(int slot) const;

 private:
  struct Slot {
    std::unique_ptr<DeviceRuntimeBlock> runtime;
    std::unique_ptr<AmplifierParameterBlock> parameters;
    std::unique_ptr<EndpointTable> endpoints;
    std::mutex lock;
  };
  Slot* Find(int slot);

  std::array<Slot, kMaxAmplifiers> slots_;
};

}  // namespace torva
