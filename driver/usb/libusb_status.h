#pragma once
// libusb's error codes and transfer states as the USB layer's results, so that every caller above
// sees the same results whichever kernel driver served it. Pure functions, any thread.

#include <libusb.h>

#include "driver/usb/usb_types.h"

namespace torva::usb {

// A libusb_error code (LIBUSB_SUCCESS included); codes without a counterpart are kIoError.
UsbResult ResultOfLibusbError(int error);
// How a transfer ended.
UsbResult ResultOfTransferStatus(libusb_transfer_status status);

}  // namespace torva::usb
