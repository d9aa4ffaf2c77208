#pragma once
// Helpers behind the per-amplifier exported functions: read or write the selected amplifier's
// master records (each whole copy under the slot's lock) and send the command that carries the
// change. Every helper does nothing when the library is not initialised, no amplifier is
// selected, or a pointer argument is null.

#include <cstring>
#include <type_traits>

#include "driver/api/control_access.h"
#include "driver/device/command_set.h"

namespace torva::api {

// Edits the selected amplifier's records with `edit(parameters, runtime)`, then sends `code`.
template <typename Edit>
void EditAndSend(CommandCode code, Edit&& edit) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr) return;
  const int slot = control->SelectedSlot();
  if (control->Records().Edit(slot, edit)) control->IssueCommand(slot, code);
}

// Sends `code` to the selected amplifier without changing its records.
inline void SendToSelected(CommandCode code) {
  EditAndSend(code, [](AmplifierParameterBlock&, DeviceRuntimeBlock&) {});
}

// Sends `code` to every amplifier, in platform order.
inline void SendToEvery(CommandCode code) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr) return;
  for (int position = 0; position < control->DeviceCount(); ++position)
    control->IssueCommand(control->SlotAt(position), code);
}

// Returns `read(parameters, runtime)` for the selected amplifier, or `fallback` when there is none.
template <typename Result, typename Read>
Result ReadSelected(Result fallback, Read&& read) {
  CThreadManager* control = CurrentControl();
  if (control == nullptr) return fallback;
  Result result = fallback;
  control->Records().Edit(control->SelectedSlot(),
                       [&](AmplifierParameterBlock& parameters, DeviceRuntimeBlock& runtime) {
                         result = read(static_cast<const AmplifierParameterBlock&>(parameters),
                                       static_cast<const DeviceRuntimeBlock&>(runtime));
                       });
  return result;
}

// Copies exactly N elements from the caller's buffer into a parameter field, then sends `code`.
template <typename Element, std::size_t N>
void SetField(Element (AmplifierParameterBlock::*field)[N], const Element* values,
              CommandCode code) {
  if (values == nullptr) return;
  EditAndSend(code, [&](AmplifierParameterBlock& parameters, DeviceRuntimeBlock&) {
    std::memcpy(parameters.*field, values, sizeof(Element) * N);
  });
}

template <typename Value>
void SetField(Value AmplifierParameterBlock::*field, Value value, CommandCode code) {
  static_assert(std::is_arithmetic_v<Value>);
  EditAndSend(code, [&](AmplifierParameterBlock& parameters, DeviceRuntimeBlock&) {
    parameters.*field = value;
  });
}

// Copies exactly N elements of a parameter field into the caller's buffer.
template <typename Element, std::size_t N>
void GetField(Element (AmplifierParameterBlock::*field)[N], Element* out) {
  if (out == nullptr) return;
  ReadSelected(0, [&](const AmplifierParameterBlock& parameters, const DeviceRuntimeBlock&) {
    std::memcpy(out, parameters.*field, sizeof(Element) * N);
    return 0;
  });
}

template <typename Value>
Value GetField(Value AmplifierParameterBlock::*field) {
  static_assert(std::is_arithmetic_v<Value>);
  return ReadSelected(Value{}, [&](const AmplifierParameterBlock& parameters,
                                   const DeviceRuntimeBlock&) { return parameters.*field; });
}

// Clears a received flag of the runtime block and sends the request that sets it again.
inline void RequestUpdate(std::int32_t DeviceRuntimeBlock::*validFlag, CommandCode code) {
  EditAndSend(code, [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
    runtime.*validFlag = 0;
  });
}

// Copies a runtime-block or parameter-block range read by an update request and returns the
// request's received flag (0 until the reply has arrived).
template <typename Element, std::size_t N, typename Record>
int GetUpdated(Element (Record::*field)[N], std::int32_t DeviceRuntimeBlock::*validFlag,
               Element* out) {
  if (out == nullptr) return 0;
  return ReadSelected(0, [&](const AmplifierParameterBlock& parameters,
                             const DeviceRuntimeBlock& runtime) {
    if constexpr (std::is_same_v<Record, AmplifierParameterBlock>)
      std::memcpy(out, parameters.*field, sizeof(Element) * N);
    else
      std::memcpy(out, runtime.*field, sizeof(Element) * N);
    return runtime.*validFlag == 1 ? 1 : 0;
  });
}

}  // namespace torva::api
