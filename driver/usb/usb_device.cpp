#include "driver/usb/usb_device.h"

#include <algorithm>

namespace torva::usb {
namespace {

// ASCII-only conversion is not enough for device strings: encode UTF-16 as UTF-8.
std::string ToUtf8(const char16_t* text) {
  std::string out;
  for (; *text != u'\0'; ++text) {
    const auto c = static_cast<std::uint32_t>(*text);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::unique_ptr<CCyUSBEndPoint> MakeEndpoint(OpenedDevice* device,
                                             const EndpointDescriptor& descriptor) {
  switch (static_cast<EndpointType>(descriptor.attributes & kEndpointTypeMask)) {
    case EndpointType::kControl:
      return std::make_unique<CCyControlEndPoint>(device, descriptor.maxPacketSize);
    case EndpointType::kIsochronous:
      return std::make_unique<CCyIsocEndPoint>(device, descriptor);
    case EndpointType::kBulk:
      return std::make_unique<CCyBulkEndPoint>(device, descriptor);
    case EndpointType::kInterrupt:
      return std::make_unique<CCyInterruptEndPoint>(device, descriptor);
  }
  return nullptr;
}

}  // namespace

UsbDevice::UsbDevice(KernelDriver& driver, bool openNow) : driver_(driver) {
  if (openNow) OpenDevice(0);
}

UsbDevice::~UsbDevice() { CloseDevice(); }

int UsbDevice::CountDevices() {
  deviceCount_ = driver_.CountDevices();
  return deviceCount_;
}

bool UsbDevice::OpenDevice(int n) {
  CloseDevice();
  if (n < 0 || n >= CountDevices()) return false;
  handle_ = driver_.OpenDevice(n);
  if (!handle_) return false;
  std::uint8_t raw[kDeviceDescriptorBytes] = {};
  const TransferOutcome read = handle_->ReadDeviceDescriptor(raw, sizeof raw);
  const auto descriptor = read.Succeeded() ? ParseDeviceDescriptor(raw, read.bytes) : std::nullopt;
  if (!descriptor) {
    CloseDevice();
    return false;
  }
  descriptor_ = *descriptor;
  deviceIndex_ = n;
  ReadStrings();
  driverInfo_ = handle_->Driver();
  speed_ = handle_->Speed();
  if (!ReadConfigurations()) {
    CloseDevice();
    return false;
  }
  const std::uint16_t packet0 = descriptor_.maxPacketSize0;
  control_ = std::make_unique<CCyControlEndPoint>(handle_.get(), packet0);
  // The endpoints of alternate setting 0, from the descriptors alone: opening does not take the
  // interface, so a device another program (or thread) holds can still be looked at.
  BindSetting(0);
  return true;
}

bool UsbDevice::ReadStrings() {
  language_ = 0;
  std::uint8_t raw[kStringDescriptorMaxBytes] = {};
  const TransferOutcome read = handle_->ReadStringDescriptor(0, 0, raw, sizeof raw);
  if (read.Succeeded()) {
    const std::vector<std::uint16_t> languages = ParseLanguageTable(raw, read.bytes);
    if (std::find(languages.begin(), languages.end(), kLanguageUsEnglish) != languages.end()) {
      language_ = kLanguageUsEnglish;
    } else if (!languages.empty()) {
      language_ = languages.front();
    }
  }
  ReadString(descriptor_.manufacturerIndex, manufacturer_);
  ReadString(descriptor_.productIndex, product_);
  ReadString(descriptor_.serialNumberIndex, serialNumber_);
  return language_ != 0;
}

void UsbDevice::ReadString(std::uint8_t index, std::array<char16_t, kStringBytes / 2>& out) {
  out.fill(u'\0');
  if (index == 0 || language_ == 0) return;
  std::uint8_t raw[kStringDescriptorMaxBytes] = {};
  const TransferOutcome read = handle_->ReadStringDescriptor(index, language_, raw, sizeof raw);
  if (!read.Succeeded()) return;
  const std::u16string text = ParseStringDescriptor(raw, read.bytes);
  const std::size_t n = std::min(text.size(), out.size() - 1);  // keep the terminating NUL
  std::copy_n(text.begin(), n, out.begin());
}

bool UsbDevice::ReadConfigurations() {
  configurations_.clear();
  const std::size_t count =
      std::min<std::size_t>(descriptor_.configurationCount, kMaxConfigurations);
  for (std::size_t i = 0; i < count; ++i) {
    const auto index = static_cast<std::uint8_t>(i);
    std::uint8_t header[kConfigurationHeaderBytes] = {};
    const TransferOutcome head = handle_->ReadConfigurationDescriptor(index, header, sizeof header);
    const auto total = head.Succeeded() ? ConfigurationTotalLength(header, head.bytes)
                                        : std::nullopt;
    if (!total) continue;
    std::vector<std::uint8_t> whole(*total);
    const TransferOutcome body =
        handle_->ReadConfigurationDescriptor(index, whole.data(), whole.size());
    if (!body.Succeeded()) continue;
    const auto parsed =
        ParseConfigurationDescriptor(whole.data(), body.bytes, kMaxInterfaces, kMaxEndpoints);
    if (!parsed) continue;
    UsbConfiguration configuration;
    configuration.descriptor = *parsed;
    for (const InterfaceDescriptor& interfaceDescriptor : parsed->interfaces) {
      UsbInterface interface;
      interface.descriptor = interfaceDescriptor;
      for (const EndpointDescriptor& endpoint : interfaceDescriptor.endpoints) {
        interface.endpoints.push_back(MakeEndpoint(handle_.get(), endpoint));
      }
      configuration.interfaces.push_back(std::move(interface));
    }
    configurations_.push_back(std::move(configuration));
  }
  return !configurations_.empty();
}

void UsbDevice::ClearBindings() {
  selected_ = nullptr;
  bulkIn_ = bulkOut_ = nullptr;
  interruptIn_ = interruptOut_ = nullptr;
  isocIn_ = isocOut_ = nullptr;
}

void UsbDevice::BindInterface(const UsbInterface& interface) {
  ClearBindings();
  selected_ = &interface;
  for (const auto& endpoint : interface.endpoints) {
    const bool in = endpoint->IsIn();
    switch (endpoint->Type()) {
      case EndpointType::kBulk: {
        auto* bulk = static_cast<CCyBulkEndPoint*>(endpoint.get());
        CCyBulkEndPoint*& slot = in ? bulkIn_ : bulkOut_;
        if (slot == nullptr) slot = bulk;
        break;
      }
      case EndpointType::kInterrupt: {
        auto* interrupt = static_cast<CCyInterruptEndPoint*>(endpoint.get());
        CCyInterruptEndPoint*& slot = in ? interruptIn_ : interruptOut_;
        if (slot == nullptr) slot = interrupt;
        break;
      }
      case EndpointType::kIsochronous: {
        auto* isoc = static_cast<CCyIsocEndPoint*>(endpoint.get());
        CCyIsocEndPoint*& slot = in ? isocIn_ : isocOut_;
        if (slot == nullptr) slot = isoc;
        break;
      }
      case EndpointType::kControl:
        break;
    }
  }
}

UsbResult UsbDevice::SelectAltSetting(int n) {
  if (!handle_ || configurations_.empty() || n < 0 || n >= kNoAlternateSetting) {
    return UsbResult::kInvalidParameter;
  }
  const UsbResult selected = handle_->SelectAlternateSetting(static_cast<std::uint8_t>(n));
  if (selected != UsbResult::kSuccess) return selected;
  const std::uint8_t current = handle_->AlternateSetting().value_or(kNoAlternateSetting);
  return BindSetting(current) ? UsbResult::kSuccess : UsbResult::kNotSupported;
}

bool UsbDevice::BindSetting(std::uint8_t setting) {
  for (const UsbInterface& interface : configurations_.front().interfaces) {
    if (interface.descriptor.alternateSetting != setting) continue;
    BindInterface(interface);
    altSetting_ = setting;
    if (driverInfo_.version < kDirectTransferDriverVersion) {
      for (const auto& endpoint : interface.endpoints) endpoint->SetMode(TransferMode::kBuffered);
    }
    return true;
  }
  return false;
}

int UsbDevice::EndpointCount() const {
  if (!control_) return 0;
  return 1 + (selected_ == nullptr ? 0 : static_cast<int>(selected_->endpoints.size()));
}

CCyUSBEndPoint* UsbDevice::Endpoint(int i) const {
  if (i < 0 || i >= EndpointCount()) return nullptr;
  if (i == 0) return control_.get();
  return selected_->endpoints[static_cast<std::size_t>(i - 1)].get();
}

void UsbDevice::CloseDevice() {
  ClearBindings();
  control_.reset();
  configurations_.clear();
  handle_.reset();
  deviceIndex_ = -1;
  altSetting_ = kNoAlternateSetting;
  descriptor_ = DeviceDescriptor{};
  manufacturer_.fill(u'\0');
  product_.fill(u'\0');
  serialNumber_.fill(u'\0');
  driverInfo_ = DriverInfo{};
  speed_ = BusSpeed::kUnknown;
}

bool UsbDevice::ResetUsbDevice() { return handle_ && handle_->ResetDevice(); }

std::optional<std::uint32_t> UsbDevice::CurrentFrameNumber() {
  if (!handle_) return std::nullopt;
  return handle_->CurrentFrameNumber();
}

std::string UsbDevice::SerialNumberText() const { return ToUtf8(serialNumber_.data()); }

std::string UsbDevice::ProductText() const { return ToUtf8(product_.data()); }

}  // namespace torva::usb
