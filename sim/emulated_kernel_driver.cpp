#include "sim/emulated_kernel_driver.h"

#include <chrono>
#include <cstring>

#include "sim/emulated_bus.h"

namespace torva::sim {

using namespace usb;
namespace {

UsbResult ToUsbResult(sim::TransferStatus status) {
  switch (status) {
    case sim::TransferStatus::kCompleted: return UsbResult::kSuccess;
    case sim::TransferStatus::kPending:
    case sim::TransferStatus::kTimeout: return UsbResult::kTimeout;
    case sim::TransferStatus::kCancelled: return UsbResult::kCancelled;
    case sim::TransferStatus::kStall: return UsbResult::kStall;
    case sim::TransferStatus::kNoDevice: return UsbResult::kNoDevice;
    case sim::TransferStatus::kOverflow: return UsbResult::kOverflow;
  }
  return UsbResult::kIoError;
}

// Writes the driver's statuses into the record and returns the outcome.
TransferOutcome Complete(TransferRecord& record, UsbResult result, std::size_t bytes) {
  record.usbStatus = static_cast<std::uint32_t>(result);
  record.systemStatus = 0;
  return {result, result == UsbResult::kSuccess ? bytes : 0, 0};
}

TransferOutcome Copied(const std::vector<std::uint8_t>& bytes, std::uint8_t* out,
                       std::size_t capacity, bool present) {
  if (!present) return {UsbResult::kNoDevice, 0, 0};
  if (bytes.empty()) return {UsbResult::kStall, 0, 0};
  if (out == nullptr) return {UsbResult::kInvalidParameter, 0, 0};
  const std::size_t n = bytes.size() < capacity ? bytes.size() : capacity;
  std::memcpy(out, bytes.data(), n);
  return {UsbResult::kSuccess, n, 0};
}

// When a data transfer with the caller's wait limit gives up (none: never).
std::optional<sim::SteadyTime> Deadline(std::uint32_t waitMs) {
  if (waitMs == kInfiniteTimeout) return std::nullopt;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
}

class EmulatedOpenedDevice final : public OpenedDevice {
 public:
  explicit EmulatedOpenedDevice(std::shared_ptr<sim::EmulatedAmplifier> device)
      : device_(std::move(device)) {}

  DriverInfo Driver() const override {
    DriverInfo info;
    info.version = kDirectTransferDriverVersion;
    info.text1 = "Torva amplifier emulator";
    info.text2 = device_->Description().amplifierSerial;
    return info;
  }

  TransferOutcome ReadDeviceDescriptor(std::uint8_t* out, std::size_t capacity) override {
    return Copied(device_->DeviceDescriptor(), out, capacity, device_->Present());
  }

  TransferOutcome ReadConfigurationDescriptor(std::uint8_t index, std::uint8_t* out,
                                              std::size_t capacity) override {
    return Copied(device_->ConfigurationDescriptor(index), out, capacity, device_->Present());
  }

  TransferOutcome ReadStringDescriptor(std::uint8_t index, std::uint16_t /*language*/,
                                       std::uint8_t* out, std::size_t capacity) override {
    return Copied(device_->StringDescriptor(index), out, capacity, device_->Present());
  }

  TransferOutcome ControlTransfer(TransferRecord& record, std::uint8_t* data,
                                  std::uint32_t /*waitMs*/) override {
    // The model answers control requests at once, so no time limit can run out.
    sim::SetupPacket setup;
    setup.requestType = record.requestType;
    setup.request = record.request;
    setup.value = record.value;
    setup.index = record.index;
    setup.length = record.length;
    const sim::TransferResult result = IsInEndpoint(record.requestType)
                                           ? device_->ControlIn(setup, data, record.length)
                                           : device_->ControlOut(setup, data, record.length);
    return Complete(record, ToUsbResult(result.status), result.bytes);
  }

  TransferOutcome DataTransfer(EndpointType /*type*/, TransferRecord& record, std::uint8_t* data,
                               std::uint32_t waitMs) override {
    const std::uint8_t endpoint = record.endpointAddress;
    const sim::TransferResult result =
        IsInEndpoint(endpoint) ? device_->BulkIn(endpoint, data, record.dataLength,
                                                 Deadline(waitMs))
                               : device_->BulkOut(endpoint, data, record.dataLength);
    return Complete(record, ToUsbResult(result.status), result.bytes);
  }

  TransferOutcome IsochronousTransfer(TransferRecord& record, std::uint8_t* /*data*/,
                                      IsoPacket* /*packets*/, std::size_t /*packetCount*/,
                                      std::uint32_t /*waitMs*/) override {
    // The amplifiers have no isochronous endpoints.
    return Complete(record, device_->Present() ? UsbResult::kStall : UsbResult::kNoDevice, 0);
  }

  bool AbortPipe(std::uint8_t endpoint) override {
    device_->AbortPipe(endpoint);
    return device_->Present();
  }
  bool ResetPipe(std::uint8_t endpoint) override { return device_->ClearHalt(endpoint); }
  bool ResetDevice() override { return device_->ResetDevice(); }

  std::optional<std::uint32_t> CurrentFrameNumber() override {
    if (!device_->Present()) return std::nullopt;
    return device_->FrameNumber(std::chrono::steady_clock::now());
  }

  BusSpeed Speed() override {
    return device_->Description().highSpeed ? BusSpeed::kHigh : BusSpeed::kFullOrLow;
  }

  std::optional<std::uint8_t> AlternateSetting() override { return device_->AlternateSetting(); }
  UsbResult SelectAlternateSetting(std::uint8_t setting) override {
    if (!device_->Present()) return UsbResult::kNoDevice;
    return device_->SelectAlternateSetting(setting) ? UsbResult::kSuccess : UsbResult::kStall;
  }

 private:
  const std::shared_ptr<sim::EmulatedAmplifier> device_;
};

}  // namespace

int EmulatedKernelDriver::CountDevices() {
  return static_cast<int>(sim::EmulatedBus::Instance().PresentDevices().size());
}

std::unique_ptr<OpenedDevice> EmulatedKernelDriver::OpenDevice(int index) {
  const auto devices = sim::EmulatedBus::Instance().PresentDevices();
  if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) return nullptr;
  const auto& device = devices[static_cast<std::size_t>(index)];
  if (device->Description().refusesOpen) return nullptr;
  return std::make_unique<EmulatedOpenedDevice>(device);
}

}  // namespace torva::sim
