#pragma once
// Posted-message vocabulary shared by every thread of the project: a message is a number with two
// parameters, delivered in arrival order to one thread's queue or to one window-style target.

#include <cstdint>

namespace torva::platform {

// A thread identifier names one thread's message queue; 0 never names a queue.
using ThreadId = std::uint32_t;
// A window-style target: an opaque handle that an application creates and reads messages from.
using WindowHandle = void*;

using WParam = std::uintptr_t;
using LParam = std::intptr_t;

struct Message {
  std::uint32_t message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

// Ends a worker thread's message loop; wParam carries the exit code.
inline constexpr std::uint32_t kQuitMessage = 18;
// Wakes a thread so that it runs its idle step again; carries no work of its own.
inline constexpr std::uint32_t kKickIdleMessage = 0x036A;
// First message number free for the project's own messages.
inline constexpr std::uint32_t kUserMessage = 0x0400;

}  // namespace torva::platform
