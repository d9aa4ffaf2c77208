#include "driver/usb/device_list.h"

#include <cstdio>

#include "driver/usb/usb_device.h"

namespace torva::usb {

std::vector<UsbDeviceSummary> ListUsbDevices(KernelDriver& driver) {
  std::vector<UsbDeviceSummary> devices;
  UsbDevice device(driver);
  const int count = device.CountDevices();
  for (int i = 0; i < count; ++i) {
    UsbDeviceSummary summary;
    summary.index = i;
    summary.opened = device.OpenDevice(i);
    if (summary.opened) {
      summary.vendorId = device.VendorId();
      summary.productId = device.ProductId();
      summary.serialNumber = device.SerialNumberText();
      summary.product = device.ProductText();
      summary.speed = device.Speed();
    }
    devices.push_back(summary);
    device.CloseDevice();
  }
  return devices;
}

std::string FormatUsbDeviceList(const std::vector<UsbDeviceSummary>& devices) {
  if (devices.empty()) return "no devices\n";
  std::string text;
  for (const UsbDeviceSummary& d : devices) {
    char line[256];
    if (d.opened) {
      std::snprintf(line, sizeof line, "%d  %04x:%04x  serial %s  %s speed  %s\n", d.index,
                    d.vendorId, d.productId,
                    d.serialNumber.empty() ? "(none)" : d.serialNumber.c_str(),
                    BusSpeedName(d.speed), d.product.c_str());
    } else {
      std::snprintf(line, sizeof line, "%d  (cannot be opened)\n", d.index);
    }
    text += line;
  }
  return text;
}

}  // namespace torva::usb
