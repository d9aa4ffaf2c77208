#pragma once
// The thread messages the driver service's worker understands. 1133 is the number the driver
// library posts when frames are ready; the others are the service's own.

#include <cstdint>

#include "platform/messages.h"

namespace Torva {

namespace platform = torva::platform;

inline constexpr std::uint32_t kMsgDataReady = platform::kUserMessage + 109;   // 1133
inline constexpr std::uint32_t kMsgRunCommand = platform::kUserMessage + 110;  // 1134
inline constexpr std::uint32_t kMsgQuitWorker = platform::kUserMessage + 111;  // 1135

}  // namespace Torva
