// The libusb kernel driver on a machine without the devices it looks for: enumeration finds
// nothing and opening fails cleanly, through the same UsbDevice the library uses.

#include <gtest/gtest.h>

#include "driver/device/command_set.h"
#include "driver/usb/device_list.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "driver/usb/usb_device.h"

namespace torva::usb {
namespace {

// No real USB device reports vendor identifier 0.
constexpr std::uint16_t kAbsentVendor = 0x0000;

TEST(LibusbDriver, FindsNothingAndOpensNothingWhenNoDeviceIsPresent) {
  LibusbKernelDriver driver(kAbsentVendor);
  EXPECT_EQ(driver.CountDevices(), 0);
  EXPECT_EQ(driver.OpenDevice(0), nullptr);
  EXPECT_EQ(driver.OpenDevice(-1), nullptr);
  UsbDevice device(driver);
  EXPECT_EQ(device.CountDevices(), 0);
  EXPECT_FALSE(device.OpenDevice(0));
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.ControlEndPoint(), nullptr);
  EXPECT_EQ(FormatUsbDeviceList(ListUsbDevices(driver)), "no devices\n");
}

TEST(LibusbDriver, EnumeratesTheAmplifierVendorWithoutErrors) {
  // Whatever is attached here, counting and listing the amplifiers' vendor must not fail; on a
  // machine without amplifiers the count is 0.
  LibusbKernelDriver driver(kAmplifierVendorId);
  const int count = driver.CountDevices();
  EXPECT_GE(count, 0);
  EXPECT_EQ(static_cast<int>(ListUsbDevices(driver).size()), count);
  if (!LibusbKernelDriver::Available()) {
    EXPECT_EQ(count, 0);
  }
}

}  // namespace
}  // namespace torva::usb
