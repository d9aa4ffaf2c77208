#pragma once
// Window-style message targets: an application creates one, gives its handle to the driver library
// (data-ready window messages), and reads the messages from whichever thread it likes.

#include <chrono>

#include "platform/messages.h"

namespace torva::platform {

WindowHandle CreateWindowTarget();
// Closes the target: later posts to it fail. Returns false for an unknown handle.
bool DestroyWindowTarget(WindowHandle window);
// Posts to a target; false when the handle names no live target.
bool PostWindowMessage(WindowHandle window, std::uint32_t message, WParam wParam, LParam lParam);
// Waits up to the limit for a message and removes it; false on time-out or unknown handle.
bool GetWindowMessage(WindowHandle window, Message& out, std::chrono::nanoseconds limit);
// Removes the first message without waiting; false when none is queued.
bool PeekWindowMessage(WindowHandle window, Message& out);

}  // namespace torva::platform
