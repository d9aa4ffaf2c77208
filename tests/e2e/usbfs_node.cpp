#include "tests/e2e/usbfs_node.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "driver/usb/transfer_record.h"
#include "sim/usb_descriptors.h"

namespace torva::e2e {
namespace {

// What this usbfs offers: one URB per bulk transfer of any size, and reaping after a disconnect.
constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr std::size_t kSetupBytes = 8;
constexpr unsigned kInterfaceNumber = 0;
constexpr unsigned kConfigurationValue = 1;
constexpr unsigned kUnconfigure = static_cast<unsigned>(-1);
// USB_SPEED_* of <linux/usb/ch9.h>, as USBDEVFS_GET_SPEED returns them.
constexpr long kUsbSpeedFull = 2;
constexpr long kUsbSpeedHigh = 3;

GObjectRef<UMockdevIoctlData> Resolve(UMockdevIoctlData* data, std::size_t offset,
                                      std::size_t length) {
  GError* error = nullptr;
  auto resolved = GObjectRef<UMockdevIoctlData>::Adopt(
      umockdev_ioctl_data_resolve(data, offset, length, &error));
  if (error != nullptr) g_error_free(error);
  return resolved;
}

// The unsigned int an ioctl's argument points to (interface, endpoint, configuration).
std::optional<unsigned> PointedValue(UMockdevIoctlData* argument) {
  const auto value = Resolve(argument, 0, sizeof(unsigned));
  if (!value) return std::nullopt;
  unsigned out = 0;
  std::memcpy(&out, value->data, sizeof out);
  return out;
}

sim::SetupPacket ParseSetup(const std::uint8_t* bytes) {
  sim::SetupPacket setup;
  setup.requestType = bytes[0];
  setup.request = bytes[1];
  setup.value = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
  setup.index = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
  setup.length = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
  return setup;
}

int UrbStatus(sim::TransferStatus status) {
  switch (status) {
    case sim::TransferStatus::kCompleted:
    case sim::TransferStatus::kPending: return 0;
    case sim::TransferStatus::kTimeout: return -ETIMEDOUT;
    case sim::TransferStatus::kCancelled: return kUrbCancelled;
    case sim::TransferStatus::kStall: return kUrbStall;
    case sim::TransferStatus::kNoDevice: return kUrbDisconnected;
    case sim::TransferStatus::kOverflow: return kUrbOverflow;
  }
  return kUrbStall;
}

UrbQueues::Answer ToAnswer(const sim::TransferResult& result) {
  const bool completed = result.status == sim::TransferStatus::kCompleted;
  return {UrbStatus(result.status), completed ? result.bytes : 0};
}

}  // namespace

UsbfsNode::UsbfsNode(std::shared_ptr<sim::EmulatedAmplifier> model, BusAddress address,
                     const std::string& fifoPath, std::function<void()> kick)
    : model_(std::move(model)), address_(address), kick_(std::move(kick)), fifo_(fifoPath) {}

void UsbfsNode::Handle(UMockdevIoctlClient* client) {
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  Outcome outcome;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++statistics_.ioctls;
    urbs_.ForgetClosed();
    urbs_.Track(client);
    outcome = Dispatch(client, request, argument);
  }
  pendingChanged_.notify_all();
  // Writes the resolved data (an answered ioctl's output, a reaped URB) back into the client.
  umockdev_ioctl_client_complete(client, outcome.result, outcome.error);
}

UsbfsNode::Outcome UsbfsNode::Failed(int error) {
  Outcome outcome;
  outcome.result = -1;
  outcome.error = error;
  return outcome;
}

UsbfsNode::Outcome UsbfsNode::Dispatch(UMockdevIoctlClient* client, gulong request,
                                       UMockdevIoctlData* argument) {
  const auto fromBool = [](bool succeeded, int error) {
    return succeeded ? Outcome{} : Failed(error);
  };
  if (request == USBDEVFS_REAPURBNDELAY) return Reap(client, argument);
  // After a disconnect only reaping still works.
  if (gone_) return Failed(ENODEV);
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      Outcome outcome;
      outcome.argument = Resolve(argument, 0, sizeof kCapabilities);
      if (!outcome.argument) return Failed(EFAULT);
      std::memcpy(outcome.argument->data, &kCapabilities, sizeof kCapabilities);
      return outcome;
    }
    case USBDEVFS_CONNECTINFO: {
      Outcome outcome;
      outcome.argument = Resolve(argument, 0, sizeof(usbdevfs_connectinfo));
      if (!outcome.argument) return Failed(EFAULT);
      usbdevfs_connectinfo info{};
      info.devnum = static_cast<unsigned>(address_.device);
      info.slow = 0;
      std::memcpy(outcome.argument->data, &info, sizeof info);
      return outcome;
    }
    case USBDEVFS_GET_SPEED: {
      Outcome outcome;
      outcome.result = model_->Description().highSpeed ? kUsbSpeedHigh : kUsbSpeedFull;
      return outcome;
    }
    case USBDEVFS_GETDRIVER:
      // No kernel driver is bound to the interface.
      return Failed(ENODATA);
    case USBDEVFS_IOCTL: {
      // libusb detaches (DISCONNECT) and re-attaches (CONNECT) kernel drivers this way: with no
      // driver there is nothing to detach, and re-attaching finds nothing to bind.
      const auto command = Resolve(argument, 0, sizeof(usbdevfs_ioctl));
      if (!command) return Failed(EFAULT);
      usbdevfs_ioctl fields{};
      std::memcpy(&fields, command->data, sizeof fields);
      if (fields.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) return Failed(ENODATA);
      return fromBool(fields.ioctl_code == static_cast<int>(USBDEVFS_CONNECT), ENOTTY);
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM: {
      // Both start with the interface number.
      const auto interface = PointedValue(argument);
      if (!interface) return Failed(EFAULT);
      if (*interface != kInterfaceNumber) return Failed(ENOENT);
      return fromBool(urbs_.Claim(client), EBUSY);
    }
    case USBDEVFS_RELEASEINTERFACE: {
      const auto interface = PointedValue(argument);
      if (!interface) return Failed(EFAULT);
      return fromBool(*interface == kInterfaceNumber && urbs_.Release(client), EINVAL);
    }
    case USBDEVFS_SETINTERFACE: {
      const auto values = Resolve(argument, 0, sizeof(usbdevfs_setinterface));
      if (!values) return Failed(EFAULT);
      usbdevfs_setinterface setting{};
      std::memcpy(&setting, values->data, sizeof setting);
      if (setting.interface != kInterfaceNumber) return Failed(ENOENT);
      return fromBool(
          model_->SelectAlternateSetting(static_cast<std::uint8_t>(setting.altsetting)), EINVAL);
    }
    case USBDEVFS_SETCONFIGURATION: {
      const auto value = PointedValue(argument);
      if (!value) return Failed(EFAULT);
      return fromBool(*value == kConfigurationValue || *value == kUnconfigure, EINVAL);
    }
    case USBDEVFS_CLEAR_HALT: {
      const auto endpoint = PointedValue(argument);
      if (!endpoint) return Failed(EFAULT);
      ++statistics_.haltsCleared;
      const bool cleared = model_->ClearHalt(static_cast<std::uint8_t>(*endpoint));
      ServiceLocked(std::chrono::steady_clock::now(), false);
      kick_();
      return fromBool(cleared, ENOENT);
    }
    case USBDEVFS_RESET: {
      ++statistics_.resets;
      const bool reset = model_->ResetDevice();
      kick_();
      return fromBool(reset, ENODEV);
    }
    case USBDEVFS_SUBMITURB:
      return Submit(client, argument);
    case USBDEVFS_DISCARDURB: {
      // The argument is the URB's address in the client, not a pointer to read through.
      gulong address = 0;
      std::memcpy(&address, argument->data, sizeof address);
      if (!urbs_.Discard(client, address)) return Failed(EINVAL);
      ++statistics_.urbsDiscarded;
      return Outcome{};
    }
    case USBDEVFS_CONTROL:
      return SynchronousControl(argument);
    default:
      // libusb 1.0.26 needs nothing else; in particular it never waits in USBDEVFS_REAPURB.
      return Failed(ENOTTY);
  }
}

UsbfsNode::Outcome UsbfsNode::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
  Outcome outcome;
  Urb urb;
  urb.header = Resolve(argument, 0, sizeof(usbdevfs_urb));
  if (!urb.header) return Failed(EFAULT);
  const usbdevfs_urb& fields = urb.Fields();
  if (fields.buffer_length < 0) return Failed(EINVAL);
  if (fields.buffer_length > 0) {
    // From here on the header's buffer pointer points to the local copy.
    urb.buffer = Resolve(urb.header.get(), offsetof(usbdevfs_urb, buffer),
                         static_cast<std::size_t>(fields.buffer_length));
    if (!urb.buffer) return Failed(EFAULT);
  }
  ++statistics_.urbsSubmitted;
  switch (fields.type) {
    case USBDEVFS_URB_TYPE_CONTROL: return SubmitControl(client, std::move(urb));
    case USBDEVFS_URB_TYPE_BULK:
    case USBDEVFS_URB_TYPE_INTERRUPT: return SubmitBulk(client, std::move(urb));
    default:
      // The amplifiers have no isochronous endpoints.
      return Failed(EINVAL);
  }
}

UsbfsNode::Outcome UsbfsNode::SubmitControl(UMockdevIoctlClient* client, Urb urb) {
  Outcome outcome;
  const std::size_t length = static_cast<std::size_t>(urb.Fields().buffer_length);
  if (length < kSetupBytes || kSetupBytes + ParseSetup(urb.Data()).length > length) {
    return Failed(EINVAL);
  }
  if (controlHeld_) {
    urbs_.AddPending(client, std::move(urb));
    return outcome;
  }
  const UrbQueues::Answer answer = AnswerControl(urb.Data());
  urbs_.Complete(client, std::move(urb), answer.status, answer.actualLength);
  // A command may have started or stopped streaming: reads waiting for a packet look again.
  kick_();
  return outcome;
}

UrbQueues::Answer UsbfsNode::AnswerControl(std::uint8_t* bytes) {
  const sim::SetupPacket setup = ParseSetup(bytes);
  std::uint8_t* data = bytes + kSetupBytes;
  const sim::TransferResult result = usb::IsInEndpoint(setup.requestType)
                                         ? model_->ControlIn(setup, data, setup.length)
                                         : model_->ControlOut(setup, data, setup.length);
  return ToAnswer(result);
}

UsbfsNode::Outcome UsbfsNode::SubmitBulk(UMockdevIoctlClient* client, Urb urb) {
  Outcome outcome;
  const std::uint8_t endpoint = urb.Fields().endpoint;
  if (!sim::HasEndpoint(model_->Description(), endpoint)) return Failed(ENOENT);
  // A transfer claims the interface for its file, unless another file holds it.
  if (!urbs_.Claim(client)) return Failed(EBUSY);
  if (!usb::IsInEndpoint(endpoint)) {
    const sim::TransferResult result = model_->BulkOut(
        endpoint, urb.Data(), static_cast<std::size_t>(urb.Fields().buffer_length));
    const UrbQueues::Answer answer = ToAnswer(result);
    urbs_.Complete(client, std::move(urb), answer.status, answer.actualLength);
    return outcome;
  }
  urbs_.AddPending(client, std::move(urb));
  ServiceLocked(std::chrono::steady_clock::now(), false);
  kick_();
  return outcome;
}

UsbfsNode::Outcome UsbfsNode::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
  Outcome outcome;
  outcome.reaped = urbs_.Reap(client);
  if (!outcome.reaped) {
    ++statistics_.emptyReaps;
    return Failed(gone_ ? ENODEV : EAGAIN);
  }
  // The argument points to the client's URB pointer: point it at the reaped URB, whose fields and
  // buffer umockdev then writes back into the client's memory.
  outcome.argument = Resolve(argument, 0, sizeof(void*));
  if (!outcome.argument ||
      !umockdev_ioctl_data_set_ptr(outcome.argument.get(), 0, outcome.reaped->header.get())) {
    outcome.result = -1;
    outcome.error = EFAULT;
  }
  return outcome;
}

UsbfsNode::Outcome UsbfsNode::SynchronousControl(UMockdevIoctlData* argument) {
  // libusb uses the synchronous form only where sysfs is missing; it is answered at once.
  Outcome outcome;
  outcome.argument = Resolve(argument, 0, sizeof(usbdevfs_ctrltransfer));
  if (!outcome.argument) return Failed(EFAULT);
  usbdevfs_ctrltransfer request{};
  std::memcpy(&request, outcome.argument->data, sizeof request);
  std::vector<std::uint8_t> bytes(kSetupBytes + request.wLength);
  bytes[0] = request.bRequestType;
  bytes[1] = request.bRequest;
  bytes[2] = static_cast<std::uint8_t>(request.wValue & 0xFF);
  bytes[3] = static_cast<std::uint8_t>(request.wValue >> 8);
  bytes[4] = static_cast<std::uint8_t>(request.wIndex & 0xFF);
  bytes[5] = static_cast<std::uint8_t>(request.wIndex >> 8);
  bytes[6] = static_cast<std::uint8_t>(request.wLength & 0xFF);
  bytes[7] = static_cast<std::uint8_t>(request.wLength >> 8);
  GObjectRef<UMockdevIoctlData> data;
  if (request.wLength > 0) {
    data = Resolve(outcome.argument.get(), offsetof(usbdevfs_ctrltransfer, data), request.wLength);
    if (!data) return Failed(EFAULT);
    std::memcpy(bytes.data() + kSetupBytes, data->data, request.wLength);
  }
  const UrbQueues::Answer answer = AnswerControl(bytes.data());
  kick_();
  if (answer.status != 0) return Failed(-answer.status);
  if (data) std::memcpy(data->data, bytes.data() + kSetupBytes, answer.actualLength);
  outcome.result = static_cast<long>(answer.actualLength);
  return outcome;
}

std::optional<UrbQueues::Answer> UsbfsNode::Respond(Urb& urb, SteadyTime now,
                                                    std::optional<SteadyTime>& readyAt) {
  if (urb.IsControl()) return AnswerControl(urb.Data());
  const sim::BulkPoll poll =
      model_->PollBulkIn(urb.Fields().endpoint, urb.Data(),
                         static_cast<std::size_t>(urb.Fields().buffer_length), now);
  if (poll.result.status == sim::TransferStatus::kPending) {
    readyAt = poll.readyAt;
    return std::nullopt;
  }
  return ToAnswer(poll.result);
}

std::optional<SteadyTime> UsbfsNode::ServiceLocked(SteadyTime now, bool controlToo) {
  urbs_.ForgetClosed();
  if (gone_) return std::nullopt;
  return urbs_.Service(
      [&](Urb& urb, std::optional<SteadyTime>& readyAt) { return Respond(urb, now, readyAt); },
      controlToo);
}

std::optional<SteadyTime> UsbfsNode::ServiceDue(SteadyTime now) {
  std::optional<SteadyTime> next;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    next = ServiceLocked(now, false);
  }
  pendingChanged_.notify_all();
  return next;
}

void UsbfsNode::Disconnect() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    model_->Unplug();
    urbs_.CompleteAllPending(kUrbDisconnected);
  }
  pendingChanged_.notify_all();
}

void UsbfsNode::HoldControlRequests(bool held) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controlHeld_ = held;
    if (!held) ServiceLocked(std::chrono::steady_clock::now(), true);
  }
  pendingChanged_.notify_all();
  kick_();
}

NodeStatistics UsbfsNode::Statistics() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return statistics_;
}

int UsbfsNode::OpenClients() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return urbs_.OpenClients();
}

bool UsbfsNode::WaitForPendingBulkReads(int count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return pendingChanged_.wait_for(lock, limit, [&] { return urbs_.PendingBulkReads() >= count; });
}

}  // namespace torva::e2e
