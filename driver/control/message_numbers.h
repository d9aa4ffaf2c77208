#pragma once
// Thread and window messages of the control thread and the caller; those between the device
// threads and the control thread are in driver/device/device_messages.h.

#include <cstdint>

#include "driver/device/device_messages.h"
#include "platform/messages.h"

namespace torva {

// Control thread to itself: run the setup check.
inline constexpr std::uint32_t kMsgRunSetupCheck = 1077;
// Packet handler to the control thread: a platform-ordering run completed.
inline constexpr std::uint32_t kMsgOrderingComplete = 1078;
// fmDLLShutDown to the control thread: free everything and end.
inline constexpr std::uint32_t kMsgShutdown = 1128;
// Library to the caller's window: a frame is ready (wParam = frame-ring index).
inline constexpr std::uint32_t kMsgDataReadyWindow = 1132;
// Library to the caller's thread: a frame is ready (wParam = frame-ring index). The same number
// as a device's reply message; the two go to different threads.
inline constexpr std::uint32_t kMsgDataReadyThread = kMsgReplyArrived;

// wParam with which fmDLLInit runs the bring-up directly.
inline constexpr platform::WParam kBringUpDirect = 5;

// Exit code of the control thread's quit message.
inline constexpr int kControlThreadExitCode = 16;

}  // namespace torva
