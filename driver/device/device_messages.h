#pragma once
// The thread messages between a device thread and the control thread, and their parameters.
// lParam is the device number (slot) on every message a device thread posts.

#include <cstdint>

#include "platform/messages.h"

namespace torva {

using platform::kUserMessage;

// Control side to a device thread: end the thread (lParam kDeviceQuitLParam).
inline constexpr std::uint32_t kMsgDeviceQuit = kUserMessage + 1;               // 1025
// Device thread to the control thread: the device thread is ending.
inline constexpr std::uint32_t kMsgDeviceThreadEnded = kUserMessage + 103;      // 1127
// Device thread to the control thread: a streaming packet is in a data-ring slot; wParam holds
// the slot and the streaming run that read it (PacketArrivedWParam).
inline constexpr std::uint32_t kMsgPacketArrived = kUserMessage + 106;          // 1130
// Device thread to the control thread: a reply is in reply-ring slot wParam (kReplyReadFailed
// when reading it failed).
inline constexpr std::uint32_t kMsgReplyArrived = kUserMessage + 109;           // 1133
// Device thread to the control thread: its amplifier has left the bus. A number that no thread
// of the driver library or the host plugin uses for anything else.
inline constexpr std::uint32_t kMsgDeviceLost = kUserMessage + 116;             // 1140

// wParam of kMsgPacketArrived: the data-ring slot in the low bits, the device's streaming run
// (1 .. kStreamingRunMask, counting the device's starts) above them. A packet read by a run that
// has since been stopped is known by its run when the control thread comes to it, and left alone.
inline constexpr unsigned kPacketRunShift = 16;
inline constexpr std::uint32_t kStreamingRunMask = 0xFFFF;
constexpr platform::WParam PacketArrivedWParam(int ringSlot, std::uint32_t run) {
  return static_cast<platform::WParam>(static_cast<std::uint32_t>(ringSlot) |
                                       ((run & kStreamingRunMask) << kPacketRunShift));
}
constexpr int PacketRingSlot(platform::WParam wParam) {
  return static_cast<int>(wParam & ((platform::WParam{1} << kPacketRunShift) - 1));
}
constexpr std::uint32_t PacketRun(platform::WParam wParam) {
  return static_cast<std::uint32_t>(wParam >> kPacketRunShift) & kStreamingRunMask;
}

// wParam of kMsgReplyArrived when reading the reply failed.
inline constexpr platform::WParam kReplyReadFailed = 10;
// lParam of kMsgDeviceQuit.
inline constexpr platform::LParam kDeviceQuitLParam = -1;
// Exit code of a device thread's quit message.
inline constexpr int kDeviceThreadExitCode = 7;

}  // namespace torva
