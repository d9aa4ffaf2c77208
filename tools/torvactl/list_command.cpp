// `torvactl list`: the amplifiers and other devices of the amplifiers' vendor on the bus (or on
// the emulated bus when TORVA_SIMULATE is set). Reads the bus directly, like lsusb: the library
// itself is not initialised.

#include <cstdio>

#include "driver/device/kernel_driver_choice.h"
#include "driver/usb/device_list.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"

namespace torvactl {

int RunList(const std::vector<std::string>& arguments) {
  if (const auto status = ParseNoArguments("torvactl list", arguments)) return *status;
  const auto devices = torva::usb::ListUsbDevices(torva::ChosenKernelDriver());
  std::printf("%s", torva::usb::FormatUsbDeviceList(devices).c_str());
  return 0;
}

}  // namespace torvactl
