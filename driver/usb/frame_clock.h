#pragma once
// USB frame numbers from a monotonic clock: one frame per millisecond, 11 bits, counted from an
// epoch. libusb offers no way to read the host controller's frame counter, so the libusb driver
// derives it this way; the emulator uses the same rule for its bus.

#include <chrono>
#include <cstdint>

#include "driver/usb/usb_types.h"

namespace torva::usb {

using SteadyTime = std::chrono::steady_clock::time_point;

// Frame number at `now` for a bus whose frame 0 began at `epoch`.
inline std::uint32_t FrameNumberAt(SteadyTime epoch, SteadyTime now) {
  if (now < epoch) return 0;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - epoch).count();
  return static_cast<std::uint32_t>(ms) & kFrameNumberMask;
}

// Start of the frame that contains `now`.
inline SteadyTime FrameStartAt(SteadyTime epoch, SteadyTime now) {
  if (now < epoch) return epoch;
  return epoch + std::chrono::duration_cast<std::chrono::milliseconds>(now - epoch);
}

}  // namespace torva::usb
