// Finding the vendor's devices through libusb and opening them; what an opened device does is in
// libusb_opened_device.cpp.

#include "driver/usb/libusb_kernel_driver.h"

#include <libusb.h>

#include <memory>
#include <mutex>
#include <vector>

#include "driver/usb/libusb_opened_device.h"
#include "platform/diagnostic_log.h"

namespace torva::usb {
namespace {

// The libusb context, shared by everything that uses the bus at the moment and ended when the
// last user lets go: libusb keeps a hot-plug monitoring thread while a context lives, and the
// library must leave no thread behind once it has shut down.
LibusbContextReference AcquireContext() {
  static std::mutex mutex;
  static std::weak_ptr<libusb_context> current;
  std::lock_guard<std::mutex> lock(mutex);
  if (LibusbContextReference context = current.lock()) return context;
  libusb_context* created = nullptr;
  if (const int initialised = libusb_init(&created); initialised != LIBUSB_SUCCESS) {
    TORVA_LOG_ERROR("libusb_init failed: %s", libusb_error_name(initialised));
    return nullptr;
  }
  LibusbContextReference context(created, libusb_exit);
  current = context;
  return context;
}

// The vendor's devices among those libusb sees, in bus order. Each holds a reference.
class DeviceList {
 public:
  explicit DeviceList(std::uint16_t vendorId) : context_(AcquireContext()) {
    if (context_ == nullptr) return;
    const ssize_t count = libusb_get_device_list(context_.get(), &list_);
    for (ssize_t i = 0; i < count; ++i) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor(list_[i], &descriptor) == LIBUSB_SUCCESS &&
          descriptor.idVendor == vendorId) {
        matches_.push_back(list_[i]);
      }
    }
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  ~DeviceList() {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
  }
  const std::vector<libusb_device*>& Matches() const { return matches_; }
  const LibusbContextReference& Context() const { return context_; }

 private:
  LibusbContextReference context_;  // outlives the list: declared first, destroyed last
  libusb_device** list_ = nullptr;
  std::vector<libusb_device*> matches_;
};

}  // namespace

LibusbKernelDriver::LibusbKernelDriver(std::uint16_t vendorId) : vendorId_(vendorId) {}

bool LibusbKernelDriver::Available() { return AcquireContext() != nullptr; }

int LibusbKernelDriver::CountDevices() {
  const DeviceList list(vendorId_);
  return static_cast<int>(list.Matches().size());
}

std::unique_ptr<OpenedDevice> LibusbKernelDriver::OpenDevice(int index) {
  const DeviceList list(vendorId_);
  if (index < 0 || static_cast<std::size_t>(index) >= list.Matches().size()) return nullptr;
  libusb_device* device = list.Matches()[static_cast<std::size_t>(index)];
  libusb_device_handle* handle = nullptr;
  if (const int opened = libusb_open(device, &handle); opened != LIBUSB_SUCCESS || handle == nullptr) {
    TORVA_LOG_ERROR("opening device %d (bus %u, address %u) failed: %s", index,
                    libusb_get_bus_number(device), libusb_get_device_address(device),
                    libusb_error_name(opened));
    return nullptr;
  }
  return std::make_unique<LibusbOpenedDevice>(list.Context(), device, handle);
}

}  // namespace torva::usb
