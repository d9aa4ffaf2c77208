#pragma once
// How the exported functions reach the library's state.

#include "driver/api/usb_manager.h"

namespace torva {

// The current control thread, or null when the library is not initialised (the call then does
// nothing and returns 0).
inline CThreadManager* CurrentControl() { return CUSBManager::Instance().Control(); }

}  // namespace torva
