// libusb's error codes and transfer states in the USB layer's terms.

#include "driver/usb/libusb_status.h"

namespace torva::usb {

UsbResult ResultOfLibusbError(int error) {
  switch (error) {
    case LIBUSB_SUCCESS: return UsbResult::kSuccess;
    case LIBUSB_ERROR_TIMEOUT: return UsbResult::kTimeout;
    case LIBUSB_ERROR_PIPE: return UsbResult::kStall;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return UsbResult::kNoDevice;
    case LIBUSB_ERROR_OVERFLOW: return UsbResult::kOverflow;
    case LIBUSB_ERROR_INVALID_PARAM: return UsbResult::kInvalidParameter;
    case LIBUSB_ERROR_NOT_SUPPORTED: return UsbResult::kNotSupported;
    case LIBUSB_ERROR_ACCESS: return UsbResult::kAccessDenied;
    case LIBUSB_ERROR_BUSY: return UsbResult::kBusy;
    default: return UsbResult::kIoError;
  }
}

UsbResult ResultOfTransferStatus(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return UsbResult::kSuccess;
    case LIBUSB_TRANSFER_TIMED_OUT: return UsbResult::kTimeout;
    case LIBUSB_TRANSFER_CANCELLED: return UsbResult::kCancelled;
    case LIBUSB_TRANSFER_STALL: return UsbResult::kStall;
    case LIBUSB_TRANSFER_NO_DEVICE: return UsbResult::kNoDevice;
    case LIBUSB_TRANSFER_OVERFLOW: return UsbResult::kOverflow;
    case LIBUSB_TRANSFER_ERROR: return UsbResult::kIoError;
  }
  return UsbResult::kIoError;
}

}  // namespace torva::usb
