#include "driver/control/library_locks.h"

namespace torva {
namespace {

// Constructed when the library is loaded, before any exported function can run, and so destroyed
// only after the library object, whose destructor ends every thread of the library.
platform::CriticalSection g_assemblyLock;
platform::CriticalSection g_frameCountLock;

}  // namespace

platform::CriticalSection& AssemblyLock() { return g_assemblyLock; }

platform::CriticalSection& FrameCountLock() { return g_frameCountLock; }

}  // namespace torva
