#pragma once
// One USB device served by the kernel driver: finds and opens the n-th device, reads its
// descriptors and strings, builds one endpoint object per endpoint of every interface, and binds
// the endpoints of the selected alternate setting. Knows nothing about amplifiers: matching by
// vendor and product is the caller's business.
//
// Threads: a UsbDevice and its endpoints belong to one thread (the device thread), except for the
// endpoint operations documented as callable from elsewhere (AbortPipe). CountDevices and
// CurrentFrameNumber touch only the kernel driver and may be called from any thread.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/usb/descriptor_parser.h"
#include "driver/usb/kernel_driver.h"
#include "driver/usb/usb_endpoint.h"

namespace torva::usb {

struct UsbInterface {
  InterfaceDescriptor descriptor;
  std::vector<std::unique_ptr<CCyUSBEndPoint>> endpoints;  // in descriptor order
};

struct UsbConfiguration {
  ConfigurationDescriptor descriptor;  // endpoints parsed; objects live in `interfaces`
  std::vector<UsbInterface> interfaces;
};

class UsbDevice {
 public:
  static constexpr std::size_t kMaxConfigurations = 2;
  static constexpr std::size_t kMaxInterfaces = 8;
  static constexpr std::size_t kMaxEndpoints = 16;
  static constexpr std::size_t kStringBytes = 256;  // UTF-16, NUL-terminated
  static constexpr std::uint8_t kNoAlternateSetting = 255;

  // `driver` plays the role of the device-interface class: the set of devices enumerated.
  explicit UsbDevice(KernelDriver& driver, bool openNow = false);
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;
  ~UsbDevice();

  // Devices present now; also stored as DeviceCount().
  int CountDevices();
  // Closes any open device and opens device n (0-based, below the count). False when there is no
  // such device, it cannot be opened, or it has no usable configuration.
  bool OpenDevice(int n);
  void CloseDevice();
  bool IsOpen() const { return handle_ != nullptr; }
  int DeviceCount() const { return deviceCount_; }
  int DeviceIndex() const { return deviceIndex_; }

  // Device descriptor values.
  std::uint16_t VendorId() const { return descriptor_.vendorId; }
  std::uint16_t ProductId() const { return descriptor_.productId; }
  std::uint16_t UsbRelease() const { return descriptor_.usbRelease; }
  std::uint8_t DeviceClass() const { return descriptor_.deviceClass; }
  std::uint8_t DeviceSubclass() const { return descriptor_.deviceSubclass; }
  std::uint8_t DeviceProtocol() const { return descriptor_.deviceProtocol; }
  std::uint8_t MaxPacketSize0() const { return descriptor_.maxPacketSize0; }
  std::uint16_t DeviceRelease() const { return descriptor_.deviceRelease; }
  std::uint8_t ConfigurationCount() const { return descriptor_.configurationCount; }

  // Strings, UTF-16 in 256-byte NUL-terminated buffers, and as UTF-8 text.
  const char16_t* Manufacturer() const { return manufacturer_.data(); }
  const char16_t* Product() const { return product_.data(); }
  const char16_t* SerialNumber() const { return serialNumber_.data(); }
  std::string SerialNumberText() const;
  std::string ProductText() const;
  std::uint16_t LanguageId() const { return language_; }

  // What the driver reported.
  std::uint32_t DriverVersion() const { return driverInfo_.version; }
  std::uint32_t DriverSecondVersion() const { return driverInfo_.secondVersion; }
  std::uint8_t DriverStatus() const { return driverInfo_.statusByte; }
  const std::string& DriverText1() const { return driverInfo_.text1; }
  const std::string& DriverText2() const { return driverInfo_.text2; }
  BusSpeed Speed() const { return speed_; }
  bool IsHighSpeed() const { return speed_ == BusSpeed::kHigh; }

  const std::vector<UsbConfiguration>& Configurations() const { return configurations_; }

  // Takes interface 0, asks the driver for alternate setting n and binds the endpoints of the
  // interface that carries the setting the driver then reports. kBusy: another program holds
  // the interface.
  UsbResult SelectAltSetting(int n);
  std::uint8_t AltSetting() const { return altSetting_; }

  // Endpoints of the selected interface plus endpoint 0.
  int EndpointCount() const;
  // 0 is the control endpoint; 1.. follow in descriptor order; nullptr out of range.
  CCyUSBEndPoint* Endpoint(int i) const;
  CCyControlEndPoint* ControlEndPoint() const { return control_.get(); }
  CCyBulkEndPoint* BulkInEndPoint() const { return bulkIn_; }
  CCyBulkEndPoint* BulkOutEndPoint() const { return bulkOut_; }
  CCyInterruptEndPoint* InterruptInEndPoint() const { return interruptIn_; }
  CCyInterruptEndPoint* InterruptOutEndPoint() const { return interruptOut_; }
  CCyIsocEndPoint* IsocInEndPoint() const { return isocIn_; }
  CCyIsocEndPoint* IsocOutEndPoint() const { return isocOut_; }

  bool ResetUsbDevice();
  std::optional<std::uint32_t> CurrentFrameNumber();
  // The opened driver handle (nullptr when closed).
  OpenedDevice* DriverHandle() const { return handle_.get(); }

 private:
  bool ReadStrings();
  void ReadString(std::uint8_t index, std::array<char16_t, kStringBytes / 2>& out);
  bool ReadConfigurations();
  void BindInterface(const UsbInterface& interface);
  // Binds the interface that carries `setting`, from the descriptors; false when none does.
  bool BindSetting(std::uint8_t setting);
  void ClearBindings();

  KernelDriver& driver_;
  std::unique_ptr<OpenedDevice> handle_;
  int deviceCount_ = 0;
  int deviceIndex_ = -1;
  DeviceDescriptor descriptor_{};
  std::array<char16_t, kStringBytes / 2> manufacturer_{};
  std::array<char16_t, kStringBytes / 2> product_{};
  std::array<char16_t, kStringBytes / 2> serialNumber_{};
  std::uint16_t language_ = 0;
  DriverInfo driverInfo_;
  BusSpeed speed_ = BusSpeed::kUnknown;
  std::vector<UsbConfiguration> configurations_;
  std::uint8_t altSetting_ = kNoAlternateSetting;
  std::unique_ptr<CCyControlEndPoint> control_;
  const UsbInterface* selected_ = nullptr;
  CCyBulkEndPoint* bulkIn_ = nullptr;
  CCyBulkEndPoint* bulkOut_ = nullptr;
  CCyInterruptEndPoint* interruptIn_ = nullptr;
  CCyInterruptEndPoint* interruptOut_ = nullptr;
  CCyIsocEndPoint* isocIn_ = nullptr;
  CCyIsocEndPoint* isocOut_ = nullptr;
};

}  // namespace torva::usb
