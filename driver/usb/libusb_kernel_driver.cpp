#include "driver/usb/libusb_kernel_driver.h"

#include <libusb.h>

#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/usb/frame_clock.h"
#include "platform/diagnostic_log.h"

namespace torva::usb {
namespace {

constexpr int kInterfaceNumber = 0;
constexpr std::uint8_t kControlEndpoint = 0;
constexpr unsigned kShortRequestTimeoutMs = 1000;
constexpr int kVersionByteShift = 8;

using ContextReference = std::shared_ptr<libusb_context>;

// The libusb context, shared by everything that uses the bus at the moment and ended when the
// last user lets go: libusb keeps a hot-plug monitoring thread while a context lives, and the
// library must leave no thread behind once it has shut down.
ContextReference AcquireContext() {
  static std::mutex mutex;
  static std::weak_ptr<libusb_context> current;
  std::lock_guard<std::mutex> lock(mutex);
  if (ContextReference context = current.lock()) return context;
  libusb_context* created = nullptr;
  if (const int initialised = libusb_init(&created); initialised != LIBUSB_SUCCESS) {
    TORVA_LOG_ERROR("libusb_init failed: %s", libusb_error_name(initialised));
    return nullptr;
  }
  ContextReference context(created, libusb_exit);
  current = context;
  return context;
}

// libusb has no way to read the host controller's frame counter: the frame number is derived
// from the monotonic clock, 1 per millisecond since the first request, 11 bits.
SteadyTime FrameEpoch() {
  static const SteadyTime epoch = std::chrono::steady_clock::now();
  return epoch;
}

UsbResult FromError(int error) {
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

UsbResult FromStatus(libusb_transfer_status status) {
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

// libusb reads a time-out of 0 as "no limit"; a requested 0 ms must still end at once.
unsigned LibusbTimeout(std::uint32_t waitMs) {
  if (waitMs == kInfiniteTimeout) return 0;
  return waitMs == 0 ? 1u : static_cast<unsigned>(waitMs);
}

TransferOutcome Finish(TransferRecord& record, UsbResult result, std::size_t bytes, int error) {
  record.usbStatus = static_cast<std::uint32_t>(result);
  record.systemStatus = error < 0 ? static_cast<std::uint32_t>(-error) : 0u;
  return {result, bytes, record.systemStatus};
}

TransferOutcome DescriptorOutcome(int read) {
  if (read < 0) return {FromError(read), 0, static_cast<std::uint32_t>(-read)};
  return {UsbResult::kSuccess, static_cast<std::size_t>(read), 0};
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
  const ContextReference& Context() const { return context_; }

 private:
  ContextReference context_;  // outlives the list: declared first, destroyed last
  libusb_device** list_ = nullptr;
  std::vector<libusb_device*> matches_;
};

// A transfer with its own control-setup buffer, kept between requests so that the steady stream
// of bulk reads allocates nothing.
struct ReusableTransfer {
  explicit ReusableTransfer(libusb_transfer* allocated) : transfer(allocated) {}
  ReusableTransfer(const ReusableTransfer&) = delete;
  ReusableTransfer& operator=(const ReusableTransfer&) = delete;
  ~ReusableTransfer() { libusb_free_transfer(transfer); }
  libusb_transfer* const transfer;
  std::vector<std::uint8_t> controlBuffer;
};
using TransferLease = std::unique_ptr<ReusableTransfer>;

class LibusbOpenedDevice final : public OpenedDevice {
 public:
  LibusbOpenedDevice(ContextReference context, libusb_device* device,
                     libusb_device_handle* handle)
      : context_(std::move(context)), device_(libusb_ref_device(device)), handle_(handle) {
    libusb_set_auto_detach_kernel_driver(handle_, 1);
  }

  ~LibusbOpenedDevice() override {
    idle_.clear();
    if (claimed_) libusb_release_interface(handle_, kInterfaceNumber);
    libusb_close(handle_);
    libusb_unref_device(device_);
  }

  DriverInfo Driver() const override {
    const libusb_version* version = libusb_get_version();
    DriverInfo info;
    info.version = kDirectTransferDriverVersion;
    info.secondVersion = (version->major << (3 * kVersionByteShift)) |
                         (version->minor << (2 * kVersionByteShift)) |
                         (version->micro << kVersionByteShift);
    info.text1 = "libusb-1.0 " + std::to_string(version->major) + "." +
                 std::to_string(version->minor) + "." + std::to_string(version->micro);
    return info;
  }

  TransferOutcome ReadDeviceDescriptor(std::uint8_t* out, std::size_t capacity) override {
    return DescriptorOutcome(libusb_get_descriptor(handle_, LIBUSB_DT_DEVICE, 0, out,
                                                   ClampLength(capacity)));
  }

  TransferOutcome ReadConfigurationDescriptor(std::uint8_t index, std::uint8_t* out,
                                              std::size_t capacity) override {
    return DescriptorOutcome(libusb_get_descriptor(handle_, LIBUSB_DT_CONFIG, index, out,
                                                   ClampLength(capacity)));
  }

  TransferOutcome ReadStringDescriptor(std::uint8_t index, std::uint16_t language,
                                       std::uint8_t* out, std::size_t capacity) override {
    return DescriptorOutcome(
        libusb_get_string_descriptor(handle_, index, language, out, ClampLength(capacity)));
  }

  TransferOutcome ControlTransfer(TransferRecord& record, std::uint8_t* data,
                                  std::uint32_t waitMs) override {
    TransferLease lease = TakeTransfer(kControlEndpoint);
    if (lease == nullptr) return Finish(record, UsbResult::kIoError, 0, LIBUSB_ERROR_NO_MEM);
    std::vector<std::uint8_t>& buffer = lease->controlBuffer;
    buffer.resize(LIBUSB_CONTROL_SETUP_SIZE + record.length);
    libusb_fill_control_setup(buffer.data(), record.requestType, record.request, record.value,
                              record.index, record.length);
    const bool in = IsInEndpoint(record.requestType);
    if (!in && record.length > 0) {
      std::memcpy(buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, data, record.length);
    }
    libusb_transfer* transfer = lease->transfer;
    libusb_fill_control_transfer(
        transfer, handle_, buffer.data(), nullptr, nullptr,
        LibusbTimeout(EffectiveControlTimeoutMs(waitMs, record.timeoutSeconds)));
    const TransferOutcome outcome = Run(transfer, kControlEndpoint, record);
    if (in && outcome.bytes > 0) {
      std::memcpy(data, libusb_control_transfer_get_data(transfer), outcome.bytes);
    }
    GiveBack(kControlEndpoint, std::move(lease));
    return outcome;
  }

  TransferOutcome DataTransfer(EndpointType type, TransferRecord& record, std::uint8_t* data,
                               std::uint32_t waitMs) override {
    if (record.dataLength > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
      return Finish(record, UsbResult::kInvalidParameter, 0, LIBUSB_ERROR_INVALID_PARAM);
    }
    if (const int claim = EnsureClaimed(); claim != LIBUSB_SUCCESS) {
      return Finish(record, FromError(claim), 0, claim);
    }
    TransferLease lease = TakeTransfer(record.endpointAddress);
    if (lease == nullptr) return Finish(record, UsbResult::kIoError, 0, LIBUSB_ERROR_NO_MEM);
    libusb_transfer* transfer = lease->transfer;
    const auto length = static_cast<int>(record.dataLength);
    if (type == EndpointType::kInterrupt) {
      libusb_fill_interrupt_transfer(transfer, handle_, record.endpointAddress, data, length,
                                     nullptr, nullptr, LibusbTimeout(waitMs));
    } else {
      libusb_fill_bulk_transfer(transfer, handle_, record.endpointAddress, data, length, nullptr,
                                nullptr, LibusbTimeout(waitMs));
    }
    const TransferOutcome outcome = Run(transfer, record.endpointAddress, record);
    GiveBack(record.endpointAddress, std::move(lease));
    return outcome;
  }

  TransferOutcome IsochronousTransfer(TransferRecord& record, std::uint8_t* data,
                                      IsoPacket* packets, std::size_t packetCount,
                                      std::uint32_t waitMs) override {
    const auto maxInt = static_cast<std::size_t>(std::numeric_limits<int>::max());
    if (packetCount == 0 || packetCount > maxInt || record.dataLength > maxInt) {
      return Finish(record, UsbResult::kInvalidParameter, 0, LIBUSB_ERROR_INVALID_PARAM);
    }
    if (const int claim = EnsureClaimed(); claim != LIBUSB_SUCCESS) {
      return Finish(record, FromError(claim), 0, claim);
    }
    const auto count = static_cast<int>(packetCount);
    libusb_transfer* transfer = libusb_alloc_transfer(count);
    if (transfer == nullptr) return Finish(record, UsbResult::kIoError, 0, LIBUSB_ERROR_NO_MEM);
    libusb_fill_iso_transfer(transfer, handle_, record.endpointAddress, data,
                             static_cast<int>(record.dataLength), count, nullptr, nullptr,
                             LibusbTimeout(waitMs));
    for (int i = 0; i < count; ++i) transfer->iso_packet_desc[i].length = packets[i].length;
    TransferOutcome outcome = Run(transfer, record.endpointAddress, record);
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) {
      packets[i].length = transfer->iso_packet_desc[i].actual_length;
      packets[i].status = static_cast<std::uint32_t>(FromStatus(transfer->iso_packet_desc[i].status));
      total += packets[i].length;
    }
    // For isochronous transfers the bytes moved are the sum over the packets.
    if (IsInEndpoint(record.endpointAddress)) outcome.bytes = total;
    libusb_free_transfer(transfer);
    return outcome;
  }

  bool AbortPipe(std::uint8_t endpoint) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto range = inFlight_.equal_range(endpoint);
    for (auto it = range.first; it != range.second; ++it) libusb_cancel_transfer(it->second);
    return true;
  }

  bool ResetPipe(std::uint8_t endpoint) override {
    if (endpoint != 0 && EnsureClaimed() != LIBUSB_SUCCESS) return false;
    return libusb_clear_halt(handle_, endpoint) == LIBUSB_SUCCESS;
  }

  bool ResetDevice() override { return libusb_reset_device(handle_) == LIBUSB_SUCCESS; }

  std::optional<std::uint32_t> CurrentFrameNumber() override {
    return FrameNumberAt(FrameEpoch(), std::chrono::steady_clock::now());
  }

  BusSpeed Speed() override {
    switch (libusb_get_device_speed(device_)) {
      case LIBUSB_SPEED_LOW:
      case LIBUSB_SPEED_FULL: return BusSpeed::kFullOrLow;
      case LIBUSB_SPEED_HIGH: return BusSpeed::kHigh;
      case LIBUSB_SPEED_SUPER:
      case LIBUSB_SPEED_SUPER_PLUS: return BusSpeed::kSuper;
      default: return BusSpeed::kUnknown;
    }
  }

  std::optional<std::uint8_t> AlternateSetting() override {
    std::uint8_t setting = 0;
    const std::uint8_t requestType =
        MakeRequestType(RequestDirection::kFromDevice, RequestKind::kStandard,
                        RequestTarget::kInterface);
    const int read = libusb_control_transfer(handle_, requestType, kRequestGetInterface, 0,
                                             kInterfaceNumber, &setting, 1,
                                             kShortRequestTimeoutMs);
    if (read != 1) return std::nullopt;
    return setting;
  }

  UsbResult SelectAlternateSetting(std::uint8_t setting) override {
    if (const int claim = EnsureClaimed(); claim != LIBUSB_SUCCESS) return FromError(claim);
    return FromError(libusb_set_interface_alt_setting(handle_, kInterfaceNumber, setting));
  }

 private:
  static int ClampLength(std::size_t capacity) {
    return static_cast<int>(capacity < kMaxDescriptorBytes ? capacity : kMaxDescriptorBytes);
  }

  // Interface 0 is claimed on first use rather than at open, so that a device another handle
  // holds can still be opened for its descriptors (the device thread's matching walk does that).
  // LIBUSB_SUCCESS once claimed, else why the claim failed: busy while another handle holds
  // the interface, no device once the device is gone (a transfer must say which).
  int EnsureClaimed() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (claimed_) return LIBUSB_SUCCESS;
    const int claimed = libusb_claim_interface(handle_, kInterfaceNumber);
    claimed_ = claimed == LIBUSB_SUCCESS;
    // Busy is the caller's to report: it names the amplifier another program holds.
    if (!claimed_ && claimed != LIBUSB_ERROR_BUSY) {
      TORVA_LOG_ERROR("claiming interface %d failed: %s", kInterfaceNumber,
                      libusb_error_name(claimed));
    }
    return claimed;
  }

  // The endpoint's idle transfer, or a new one while it is in use (another thread's request on
  // the same endpoint) or not yet made; nullptr when none can be allocated.
  TransferLease TakeTransfer(std::uint8_t endpoint) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (auto idle = idle_.find(endpoint); idle != idle_.end() && idle->second != nullptr) {
        return std::move(idle->second);
      }
    }
    libusb_transfer* allocated = libusb_alloc_transfer(0);
    if (allocated == nullptr) return nullptr;
    return std::make_unique<ReusableTransfer>(allocated);
  }

  // Keeps the transfer for the endpoint's next request (one per endpoint; a surplus one is freed).
  void GiveBack(std::uint8_t endpoint, TransferLease lease) {
    std::lock_guard<std::mutex> lock(mutex_);
    TransferLease& slot = idle_[endpoint];
    if (slot == nullptr) slot = std::move(lease);
  }

  // The flag is written by whichever thread handles the completion and read by the waiting
  // thread outside libusb's locks: both sides use atomic accesses.
  static void LIBUSB_CALL OnComplete(libusb_transfer* transfer) {
    __atomic_store_n(static_cast<int*>(transfer->user_data), 1, __ATOMIC_RELEASE);
  }

  // Submits the transfer and waits for it in libusb's event handling: the thread blocks in poll
  // until this or another transfer completes, an abort cancels it, or its time-out ends it.
  TransferOutcome Run(libusb_transfer* transfer, std::uint8_t endpoint, TransferRecord& record) {
    int completed = 0;
    transfer->user_data = &completed;
    transfer->callback = &LibusbOpenedDevice::OnComplete;
    std::multimap<std::uint8_t, libusb_transfer*>::iterator entry;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const int submitted = libusb_submit_transfer(transfer);
      if (submitted != LIBUSB_SUCCESS) return Finish(record, FromError(submitted), 0, submitted);
      entry = inFlight_.emplace(endpoint, transfer);
    }
    while (__atomic_load_n(&completed, __ATOMIC_ACQUIRE) == 0) {
      const int handled = libusb_handle_events_completed(context_.get(), &completed);
      if (handled < 0 && handled != LIBUSB_ERROR_INTERRUPTED) {
        // The event loop failed: cancel and keep waiting for the cancellation to land.
        libusb_cancel_transfer(transfer);
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      inFlight_.erase(entry);
    }
    const UsbResult result = FromStatus(transfer->status);
    const std::size_t bytes =
        transfer->actual_length > 0 ? static_cast<std::size_t>(transfer->actual_length) : 0;
    return Finish(record, result, bytes, result == UsbResult::kSuccess ? 0 : LIBUSB_ERROR_IO);
  }

  const ContextReference context_;  // kept while the device is open
  libusb_device* const device_;
  libusb_device_handle* const handle_;
  std::mutex mutex_;  // guards inFlight_, idle_ and claimed_
  std::multimap<std::uint8_t, libusb_transfer*> inFlight_;
  std::map<std::uint8_t, TransferLease> idle_;  // freed before handle_ is closed
  bool claimed_ = false;
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
