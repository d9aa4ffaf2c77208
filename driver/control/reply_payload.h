#pragma once
// Where the payload of an amplifier's command reply goes in the slot's records: the parameter
// block for a read of all parameters, the limits and download status at their places in it, the
// autozero pots and tare values in the runtime block, each with the flag that says it is valid.
// Codes that carry nothing the library keeps change nothing. No threads: the caller holds the
// slot's lock.

#include <cstdint>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/command_set.h"
#include "driver/device/device_runtime_block.h"

namespace torva {

// Stores `payload` for a reply to `code`. True when it was the whole parameter block.
bool StoreReplyPayload(CommandCode code, const std::uint8_t* payload,
                       AmplifierParameterBlock& parameters, DeviceRuntimeBlock& runtime);

}  // namespace torva
