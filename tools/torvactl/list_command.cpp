// `torvactl list`: the amplifiers and other devices of the amplifiers' vendor on the bus. Reads
// the bus directly through libusb, like lsusb, without initialising the library. Emulated
// amplifiers live inside the library (TORVA_SIMULATE), so with that variable set they are listed
// through the library instead: its bring-up, then each amplifier's serial and model.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/device/command_set.h"
#include "driver/usb/device_list.h"
#include "driver/usb/libusb_kernel_driver.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/library_session.h"

namespace torvactl {
namespace {

// The variable with which the library emulates its amplifiers.
constexpr const char* kSimulateVariable = "TORVA_SIMULATE";

int ListEmulated() {
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  const int count = fmDLLGetDeviceCount();
  if (count == 0) std::printf("no devices\n");
  for (int position = 0; position < count; ++position) {
    fmDLLSelectDeviceIndex(position);
    char serial[16] = {};
    char model[16] = {};
    fmGetAmplifierSerialNumber(serial);
    fmGetAmplifierModelNumber(model);
    std::printf("%d  serial %s  model %s  emulated (%s)\n", position,
                std::string(serial, strnlen(serial, sizeof serial)).c_str(),
                std::string(model, strnlen(model, sizeof model)).c_str(),
                kSimulateVariable);
  }
  return 0;
}

}  // namespace

int RunList(const std::vector<std::string>& arguments) {
  if (const auto status = ParseNoArguments("torvactl list", arguments)) return *status;
  if (std::getenv(kSimulateVariable) != nullptr) return ListEmulated();
  torva::usb::LibusbKernelDriver bus(torva::kAmplifierVendorId);
  std::printf("%s", torva::usb::FormatUsbDeviceList(torva::usb::ListUsbDevices(bus)).c_str());
  return 0;
}

}  // namespace torvactl
