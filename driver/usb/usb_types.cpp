#include "driver/usb/usb_types.h"

namespace torva::usb {

const char* UsbResultName(UsbResult result) {
  switch (result) {
    case UsbResult::kSuccess: return "success";
    case UsbResult::kTimeout: return "timed out";
    case UsbResult::kCancelled: return "aborted";
    case UsbResult::kStall: return "stalled";
    case UsbResult::kNoDevice: return "no device";
    case UsbResult::kOverflow: return "overflow";
    case UsbResult::kInvalidParameter: return "invalid parameter";
    case UsbResult::kNotSupported: return "not supported";
    case UsbResult::kAccessDenied: return "access denied";
    case UsbResult::kBusy: return "busy";
    case UsbResult::kIoError: return "I/O error";
  }
  return "unknown";
}

const char* BusSpeedName(BusSpeed speed) {
  switch (speed) {
    case BusSpeed::kUnknown: return "unknown";
    case BusSpeed::kFullOrLow: return "full";
    case BusSpeed::kHigh: return "high";
    case BusSpeed::kSuper: return "super";
  }
  return "unknown";
}

}  // namespace torva::usb
