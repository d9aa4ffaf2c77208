#include "driver/control/library_locks.h"

namespace torva {

platform::CriticalSection& AssemblyLock() {
  static auto* lock = new platform::CriticalSection;  // outlives every thread of the library
  return *lock;
}

platform::CriticalSection& FrameCountLock() {
  static auto* lock = new platform::CriticalSection;
  return *lock;
}

}  // namespace torva
