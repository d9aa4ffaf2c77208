// One libusb-opened device: descriptors, transfers (waited for in libusb's event handling),
// aborts, pipe and device control.

#include "driver/usb/libusb_opened_device.h"

#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "driver/usb/frame_clock.h"
#include "driver/usb/libusb_status.h"
#include "platform/diagnostic_log.h"

namespace torva::usb {
namespace {

constexpr int kInterfaceNumber = 0;
constexpr std::uint8_t kControlEndpoint = 0;
constexpr unsigned kShortRequestTimeoutMs = 1000;
constexpr int kVersionByteShift = 8;

// libusb has no way to read the host controller's frame counter: the frame number is derived
// from the monotonic clock, 1 per millisecond since the first request, 11 bits.
SteadyTime FrameEpoch() {
  static const SteadyTime epoch = std::chrono::steady_clock::now();
  return epoch;
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

int ClampLength(std::size_t capacity) {
  return static_cast<int>(capacity < kMaxDescriptorBytes ? capacity : kMaxDescriptorBytes);
}

TransferOutcome DescriptorOutcome(int read) {
  if (read < 0) return {ResultOfLibusbError(read), 0, static_cast<std::uint32_t>(-read)};
  return {UsbResult::kSuccess, static_cast<std::size_t>(read), 0};
}

}  // namespace

// A transfer with its own control-setup buffer, kept between requests so that the steady stream
// of bulk reads allocates nothing.
struct LibusbOpenedDevice::ReusableTransfer {
  explicit ReusableTransfer(libusb_transfer* allocated) : transfer(allocated) {}
  ReusableTransfer(const ReusableTransfer&) = delete;
  ReusableTransfer& operator=(const ReusableTransfer&) = delete;
  ~ReusableTransfer() { libusb_free_transfer(transfer); }
  libusb_transfer* const transfer;
  std::vector<std::uint8_t> controlBuffer;
};

LibusbOpenedDevice::LibusbOpenedDevice(LibusbContextReference context, libusb_device* device,
                                       libusb_device_handle* handle)
    : context_(std::move(context)), device_(libusb_ref_device(device)), handle_(handle) {
  libusb_set_auto_detach_kernel_driver(handle_, 1);
}

LibusbOpenedDevice::~LibusbOpenedDevice() {
  idle_.clear();
  if (claimed_) libusb_release_interface(handle_, kInterfaceNumber);
  libusb_close(handle_);
  libusb_unref_device(device_);
}

DriverInfo LibusbOpenedDevice::Driver() const {
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

TransferOutcome LibusbOpenedDevice::ReadDeviceDescriptor(std::uint8_t* out, std::size_t capacity) {
  return DescriptorOutcome(libusb_get_descriptor(handle_, LIBUSB_DT_DEVICE, 0, out,
                                                 ClampLength(capacity)));
}

TransferOutcome LibusbOpenedDevice::ReadConfigurationDescriptor(std::uint8_t index,
                                                                std::uint8_t* out,
                                                                std::size_t capacity) {
  return DescriptorOutcome(libusb_get_descriptor(handle_, LIBUSB_DT_CONFIG, index, out,
                                                 ClampLength(capacity)));
}

TransferOutcome LibusbOpenedDevice::ReadStringDescriptor(std::uint8_t index, std::uint16_t language,
                                                         std::uint8_t* out, std::size_t capacity) {
  return DescriptorOutcome(
      libusb_get_string_descriptor(handle_, index, language, out, ClampLength(capacity)));
}

TransferOutcome LibusbOpenedDevice::ControlTransfer(TransferRecord& record, std::uint8_t* data,
                                                    std::uint32_t waitMs) {
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

TransferOutcome LibusbOpenedDevice::DataTransfer(EndpointType type, TransferRecord& record,
                                                 std::uint8_t* data, std::uint32_t waitMs) {
  if (record.dataLength > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
    return Finish(record, UsbResult::kInvalidParameter, 0, LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const int claim = EnsureClaimed(); claim != LIBUSB_SUCCESS) {
    return Finish(record, ResultOfLibusbError(claim), 0, claim);
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

TransferOutcome LibusbOpenedDevice::IsochronousTransfer(TransferRecord& record, std::uint8_t* data,
                                                        IsoPacket* packets, std::size_t packetCount,
                                                        std::uint32_t waitMs) {
  const auto maxInt = static_cast<std::size_t>(std::numeric_limits<int>::max());
  if (packetCount == 0 || packetCount > maxInt || record.dataLength > maxInt) {
    return Finish(record, UsbResult::kInvalidParameter, 0, LIBUSB_ERROR_INVALID_PARAM);
  }
  if (const int claim = EnsureClaimed(); claim != LIBUSB_SUCCESS) {
    return Finish(record, ResultOfLibusbError(claim), 0, claim);
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
    packets[i].status = static_cast<std::uint32_t>(ResultOfTransferStatus(transfer->iso_packet_desc[i].status));
    total += packets[i].length;
  }
  // For isochronous transfers the bytes moved are the sum over the packets.
  if (IsInEndpoint(record.endpointAddress)) outcome.bytes = total;
  libusb_free_transfer(transfer);
  return outcome;
}

bool LibusbOpenedDevice::AbortPipe(std::uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto range = inFlight_.equal_range(endpoint);
  for (auto it = range.first; it != range.second; ++it) libusb_cancel_transfer(it->second);
  return true;
}

bool LibusbOpenedDevice::ResetPipe(std::uint8_t endpoint) {
  if (endpoint != 0 && EnsureClaimed() != LIBUSB_SUCCESS) return false;
  return libusb_clear_halt(handle_, endpoint) == LIBUSB_SUCCESS;
}

bool LibusbOpenedDevice::ResetDevice() { return libusb_reset_device(handle_) == LIBUSB_SUCCESS; }

std::optional<std::uint32_t> LibusbOpenedDevice::CurrentFrameNumber() {
  return FrameNumberAt(FrameEpoch(), std::chrono::steady_clock::now());
}

BusSpeed LibusbOpenedDevice::Speed() {
  switch (libusb_get_device_speed(device_)) {
    case LIBUSB_SPEED_LOW:
    case LIBUSB_SPEED_FULL: return BusSpeed::kFullOrLow;
    case LIBUSB_SPEED_HIGH: return BusSpeed::kHigh;
    case LIBUSB_SPEED_SUPER:
    case LIBUSB_SPEED_SUPER_PLUS: return BusSpeed::kSuper;
    default: return BusSpeed::kUnknown;
  }
}

std::optional<std::uint8_t> LibusbOpenedDevice::AlternateSetting() {
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

UsbResult LibusbOpenedDevice::SelectAlternateSetting(std::uint8_t setting) {
  if (const int claim = EnsureClaimed(); claim != LIBUSB_SUCCESS) return ResultOfLibusbError(claim);
  return ResultOfLibusbError(libusb_set_interface_alt_setting(handle_, kInterfaceNumber, setting));
}

int LibusbOpenedDevice::EnsureClaimed() {
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

LibusbOpenedDevice::TransferLease LibusbOpenedDevice::TakeTransfer(std::uint8_t endpoint) {
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

void LibusbOpenedDevice::GiveBack(std::uint8_t endpoint, TransferLease lease) {
  std::lock_guard<std::mutex> lock(mutex_);
  TransferLease& slot = idle_[endpoint];
  if (slot == nullptr) slot = std::move(lease);
}

// The flag is written by whichever thread handles the completion and read by the waiting
// thread outside libusb's locks: both sides use atomic accesses.
void LIBUSB_CALL LibusbOpenedDevice::OnComplete(libusb_transfer* transfer) {
  __atomic_store_n(static_cast<int*>(transfer->user_data), 1, __ATOMIC_RELEASE);
}

TransferOutcome LibusbOpenedDevice::Run(libusb_transfer* transfer, std::uint8_t endpoint,
                                        TransferRecord& record) {
  int completed = 0;
  transfer->user_data = &completed;
  transfer->callback = &LibusbOpenedDevice::OnComplete;
  std::multimap<std::uint8_t, libusb_transfer*>::iterator entry;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int submitted = libusb_submit_transfer(transfer);
    if (submitted != LIBUSB_SUCCESS) return Finish(record, ResultOfLibusbError(submitted), 0, submitted);
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
  const UsbResult result = ResultOfTransferStatus(transfer->status);
  const std::size_t bytes =
      transfer->actual_length > 0 ? static_cast<std::size_t>(transfer->actual_length) : 0;
  return Finish(record, result, bytes, result == UsbResult::kSuccess ? 0 : LIBUSB_ERROR_IO);
}

}  // namespace torva::usb
