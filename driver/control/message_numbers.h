#pragma once
// Thread and window messages that travel between the driver library's threads and its caller.

#include <cstdint>

#include "platform/messages.h"

namespace torva {

using platform::kUserMessage;

// Control side to a device thread: end the thread.
inline constexpr std::uint32_t kMsgDeviceQuit = kUserMessage + 1;               // 1025
// Control thread to itself: run the setup check.
inline constexpr std::uint32_t kMsgRunSetupCheck = 1077;
// Packet handler to the control thread: a platform-ordering run completed.
inline constexpr std::uint32_t kMsgOrderingComplete = 1078;
// Device thread to the control thread: the device thread is ending.
inline constexpr std::uint32_t kMsgDeviceThreadEnded = kUserMessage + 103;      // 1127
// fmDLLShutDown to the control thread: free everything and end.
inline constexpr std::uint32_t kMsgShutdown = 1128;
// Device thread to the control thread: a streaming packet is in data-ring slot wParam.
inline constexpr std::uint32_t kMsgPacketArrived = kUserMessage + 106;          // 1130
// Library to the caller's window: a frame is ready (wParam = frame-ring index).
inline constexpr std::uint32_t kMsgDataReadyWindow = 1132;
// Device thread to the control thread: a reply is in reply-ring slot wParam. The library also
// sends this number to the caller's thread when a frame is ready; the two go to different threads.
inline constexpr std::uint32_t kMsgReplyArrived = kUserMessage + 109;           // 1133
inline constexpr std::uint32_t kMsgDataReadyThread = kMsgReplyArrived;

// Device thread to the control thread: its amplifier has left the bus (lParam = slot).
inline constexpr std::uint32_t kMsgDeviceLost = kUserMessage + 111;             // 1135

// wParam of kMsgReplyArrived when reading the reply failed.
inline constexpr platform::WParam kReplyReadFailed = 10;
// lParam of kMsgDeviceQuit.
inline constexpr platform::LParam kDeviceQuitLParam = -1;
// wParam with which fmDLLInit runs the bring-up directly.
inline constexpr platform::WParam kBringUpDirect = 5;

// Exit codes of the threads' quit messages.
inline constexpr int kControlThreadExitCode = 16;
inline constexpr int kDeviceThreadExitCode = 7;

}  // namespace torva
