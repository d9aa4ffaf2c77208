#pragma once
// Results, speeds and descriptor constants shared by the USB access layer and its kernel drivers.

#include <cstddef>
#include <cstdint>
#include <string>

namespace torva::usb {

// Outcome of one request to a kernel driver. Stored as the USB status of a transfer record.
enum class UsbResult : std::uint32_t {
  kSuccess = 0,
  kTimeout = 1,           // the time limit ran out; the request was aborted
  kCancelled = 2,         // the pipe was aborted while the request was pending
  kStall = 3,             // the device stalled the endpoint (or refused the request)
  kNoDevice = 4,          // the device is gone (unplugged) or the handle is closed
  kOverflow = 5,          // the device sent more than the buffer holds
  kInvalidParameter = 6,
  kNotSupported = 7,
  kAccessDenied = 8,
  kBusy = 9,
  kIoError = 10,
};

const char* UsbResultName(UsbResult result);

struct TransferOutcome {
  UsbResult result = UsbResult::kIoError;
  std::size_t bytes = 0;      // bytes transferred
  std::uint32_t systemError = 0;  // errno the driver met, 0 when none

  bool Succeeded() const { return result == UsbResult::kSuccess; }
};

// Bus speed as the driver reports it; 2 is high speed.
enum class BusSpeed : std::uint32_t {
  kUnknown = 0,
  kFullOrLow = 1,
  kHigh = 2,
  kSuper = 3,  // SuperSpeed and faster
};

const char* BusSpeedName(BusSpeed speed);

// What a kernel driver says about itself when a device is opened.
struct DriverInfo {
  std::uint32_t version = 0;        // 0 when unknown
  std::uint32_t secondVersion = 0;  // stored, not used
  std::uint8_t statusByte = 0;      // stored, not used
  std::string text1;                // stored, not used
  std::string text2;                // stored, not used
};

// Standard descriptor types and requests used by the layer.
inline constexpr std::uint8_t kDescriptorTypeDevice = 0x01;
inline constexpr std::uint8_t kDescriptorTypeConfiguration = 0x02;
inline constexpr std::uint8_t kDescriptorTypeString = 0x03;
inline constexpr std::uint8_t kDescriptorTypeInterface = 0x04;
inline constexpr std::uint8_t kDescriptorTypeEndpoint = 0x05;
inline constexpr std::uint8_t kRequestGetStatus = 0x00;
inline constexpr std::uint8_t kRequestGetDescriptor = 0x06;
inline constexpr std::uint8_t kRequestGetConfiguration = 0x08;
inline constexpr std::uint8_t kRequestGetInterface = 0x0A;
inline constexpr std::uint8_t kRequestSetInterface = 0x0B;
inline constexpr std::size_t kDeviceDescriptorBytes = 18;
inline constexpr std::size_t kConfigurationHeaderBytes = 9;
inline constexpr std::size_t kMaxDescriptorBytes = 0xFFFF;
inline constexpr std::size_t kStringDescriptorMaxBytes = 255;
inline constexpr std::uint16_t kLanguageUsEnglish = 0x0409;
// Transfer kind in bits 0..1 of an endpoint's attributes.
inline constexpr std::uint8_t kEndpointTypeMask = 0x03;
enum class EndpointType : std::uint8_t { kControl = 0, kIsochronous = 1, kBulk = 2, kInterrupt = 3 };

// USB frames are 1 ms long; the frame number has 11 bits.
inline constexpr std::uint32_t kFrameNumberMask = 0x7FF;

}  // namespace torva::usb
