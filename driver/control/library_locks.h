#pragma once
// The two library-wide locks, created with the library and never destroyed while it is loaded.
// Lock order: the frame-count lock is taken inside the assembly lock, never the other way round.

#include "platform/sync.h"

namespace torva {

// Held by the packet handler for its whole run, by the start of acquisition while it resets the
// assembly state, and by the shutdown handler while it frees buffers.
platform::CriticalSection& AssemblyLock();
// Guards only the count of completed frames that the caller has not taken yet.
platform::CriticalSection& FrameCountLock();

}  // namespace torva
