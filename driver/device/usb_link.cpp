#include "driver/device/usb_link.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "driver/device/amplifier_identity.h"
#include "driver/device/kernel_driver_source.h"
#include "driver/usb/usb_device.h"

namespace torva {
namespace {

using Lock = platform::CriticalSectionLock;

// Time-out of the second selected endpoint.
constexpr std::uint32_t kSecondEndpointTimeoutMs = 2000;

}  // namespace

UsbLink::UsbLink(platform::CriticalSection& deviceLock) : deviceLock_(deviceLock) {}

UsbLink::~UsbLink() = default;

UsbLink::OpenOutcome UsbLink::Open(int ordinal) {
  auto device = std::make_unique<usb::UsbDevice>(ChosenKernelDriver());
  const int count = device->CountDevices();
  matchedSerial_.clear();
  if (ordinal == 0) {
    amplifiersFound_ = 0;
    for (int i = 0; i < count; ++i)
      if (device->OpenDevice(i) && IsAmplifier(device->VendorId(), device->ProductId()))
        ++amplifiersFound_;
    device->CloseDevice();
    if (amplifiersFound_ == 0) return OpenOutcome::kNotOpened;
  }
  int match = 0;
  for (int i = 0; i < count; ++i) {
    if (!device->OpenDevice(i)) continue;
    if (!IsAmplifier(device->VendorId(), device->ProductId())) continue;
    if (match++ != ordinal) continue;
    // Only the amplifier this thread takes is claimed: the threads of the amplifiers before it
    // hold theirs, and another program may hold this one.
    matchedSerial_ = device->SerialNumberText();
    if (device->SelectAltSetting(0) == usb::UsbResult::kBusy) {
      device->CloseDevice();
      return OpenOutcome::kInUse;
    }
    matchedProductId_ = device->ProductId();
    Lock lock(deviceLock_);
    usb_ = std::move(device);
    control_ = usb_->ControlEndPoint();
    open_ = true;
    return OpenOutcome::kOpened;
  }
  device->CloseDevice();
  return OpenOutcome::kNotOpened;
}

bool UsbLink::BuildEndpointTable() {
  Lock lock(deviceLock_);
  std::memset(&endpoints_, 0, sizeof endpoints_);
  if (!usb_) return false;
  const int count = std::min(usb_->EndpointCount(), kMaxEndpointEntries);
  for (int i = 0; i < count; ++i) {
    const usb::CCyUSBEndPoint* endpoint = usb_->Endpoint(i);
    if (endpoint == nullptr) continue;
    EndpointEntry& entry = endpoints_.entries[i];
    entry.address = endpoint->Address();
    entry.index = i;
    entry.maxPacketSize = static_cast<std::int32_t>(endpoint->MaxPacketSize());
    entry.interval = endpoint->Interval();
    EndpointKind kind = EndpointKind::kOther;
    const bool in = endpoint->IsIn();
    switch (endpoint->Type()) {
      case usb::EndpointType::kControl: kind = EndpointKind::kControl; break;
      case usb::EndpointType::kIsochronous:
        kind = in ? EndpointKind::kIsochronousIn : EndpointKind::kIsochronousOut;
        break;
      case usb::EndpointType::kBulk: kind = in ? EndpointKind::kBulkIn : EndpointKind::kBulkOut; break;
      case usb::EndpointType::kInterrupt:
        kind = in ? EndpointKind::kInterruptIn : EndpointKind::kInterruptOut;
        break;
    }
    entry.kind = static_cast<double>(static_cast<int>(kind));
  }
  endpoints_.count = count;
  return true;
}

bool UsbLink::CopyEndpointTable(EndpointTable& out) const {
  Lock lock(deviceLock_);
  out = endpoints_;
  return true;
}

void UsbLink::SelectEndpoints(int dataIndex, int secondIndex, int thirdIndex) {
  Lock lock(deviceLock_);
  if (!usb_) return;
  dataEndpoint_ = usb_->Endpoint(dataIndex);
  secondEndpoint_ = usb_->Endpoint(secondIndex);
  thirdEndpoint_ = usb_->Endpoint(thirdIndex);
  if (dataEndpoint_ != nullptr) dataEndpoint_->SetTimeOut(usb::kInfiniteTimeout);
  if (secondEndpoint_ != nullptr) secondEndpoint_->SetTimeOut(kSecondEndpointTimeoutMs);
}

void UsbLink::AbortDataEndpoint() {
  std::shared_ptr<usb::UsbDevice> usb;
  usb::CCyUSBEndPoint* endpoint = nullptr;
  {
    Lock lock(deviceLock_);
    usb = usb_;
    endpoint = dataEndpoint_;
    // The halt is cleared by the device thread: clearing it is a request to the amplifier, which
    // the caller must not wait for.
    dataResetPending_ = endpoint != nullptr;
  }
  if (endpoint != nullptr) endpoint->AbortPipe();
}

void UsbLink::AbortTransfers() {
  std::shared_ptr<usb::UsbDevice> usb;
  usb::CCyUSBEndPoint* endpoints[] = {nullptr, nullptr};
  {
    Lock lock(deviceLock_);
    ending_ = true;
    usb = usb_;
    endpoints[0] = control_;
    endpoints[1] = dataEndpoint_;
  }
  for (usb::CCyUSBEndPoint* endpoint : endpoints)
    if (endpoint != nullptr) endpoint->AbortPipe();
}

std::optional<std::uint32_t> UsbLink::CurrentFrameNumber() {
  std::shared_ptr<usb::UsbDevice> usb;
  {
    Lock lock(deviceLock_);
    usb = usb_;
  }
  return usb ? usb->CurrentFrameNumber() : std::nullopt;
}

bool UsbLink::ResetUsbDevice() {
  std::shared_ptr<usb::UsbDevice> usb;
  {
    Lock lock(deviceLock_);
    usb = usb_;
  }
  return usb && usb->ResetUsbDevice();
}

bool UsbLink::TakeDataResetPending() {
  return std::exchange(dataResetPending_, false) && dataEndpoint_ != nullptr;
}

bool UsbLink::VendorRequest(std::uint8_t request, bool toDevice, std::uint8_t* data,
                            std::int32_t& length) {
  control_->SetTarget(usb::RequestTarget::kDevice);
  control_->SetReqType(usb::RequestKind::kVendor);
  control_->SetReqCode(request);
  control_->SetValue(0);
  control_->SetIndex(0);
  return toDevice ? control_->WriteControl(data, length) : control_->ReadControl(data, length);
}

bool UsbLink::MarkLostIfGone(const usb::CCyUSBEndPoint& endpoint) {
  if (endpoint.UsbdStatus() != static_cast<std::uint32_t>(usb::UsbResult::kNoDevice)) return false;
  return open_.exchange(false);
}

void UsbLink::Release() {
  dataEndpoint_ = nullptr;
  secondEndpoint_ = nullptr;
  thirdEndpoint_ = nullptr;
  control_ = nullptr;
  usb_.reset();
}

}  // namespace torva
