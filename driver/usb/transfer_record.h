#pragma once
// The record exchanged with the kernel driver in every transfer request: the control request
// fields, the endpoint of a data transfer, the statuses the driver fills in and where the data and
// the isochronous packet table lie. Packed, little-endian.

#include <cstddef>
#include <cstdint>

namespace torva::usb {

#pragma pack(push, 1)
struct TransferRecord {
  std::uint8_t requestType;      // bmRequestType (control transfers)
  std::uint8_t request;          // bRequest
  std::uint16_t value;           // wValue
  std::uint16_t index;           // wIndex
  std::uint16_t length;          // wLength
  std::uint32_t timeoutSeconds;  // control transfers: the driver's own time limit
  std::uint8_t reserved;         // 0
  std::uint8_t endpointAddress;  // data transfers
  std::uint32_t systemStatus;    // filled by the driver: 0, or the system error (errno) it met
  std::uint32_t usbStatus;       // filled by the driver: a UsbResult code
  std::uint32_t isoPacketTableOffset;
  std::uint32_t isoPacketTableLength;
  std::uint32_t dataOffset;      // kTransferRecordBytes when the data follows the record, else 0
  std::uint32_t dataLength;
};
#pragma pack(pop)

inline constexpr std::size_t kTransferRecordBytes = 38;

static_assert(sizeof(TransferRecord) == kTransferRecordBytes);
static_assert(offsetof(TransferRecord, request) == 1);
static_assert(offsetof(TransferRecord, value) == 2);
static_assert(offsetof(TransferRecord, index) == 4);
static_assert(offsetof(TransferRecord, length) == 6);
static_assert(offsetof(TransferRecord, timeoutSeconds) == 8);
static_assert(offsetof(TransferRecord, reserved) == 12);
static_assert(offsetof(TransferRecord, endpointAddress) == 13);
static_assert(offsetof(TransferRecord, systemStatus) == 14);
static_assert(offsetof(TransferRecord, usbStatus) == 18);
static_assert(offsetof(TransferRecord, isoPacketTableOffset) == 22);
static_assert(offsetof(TransferRecord, isoPacketTableLength) == 26);
static_assert(offsetof(TransferRecord, dataOffset) == 30);
static_assert(offsetof(TransferRecord, dataLength) == 34);

// One entry of the isochronous packet table that follows the record.
#pragma pack(push, 1)
struct IsoPacket {
  std::uint32_t length;  // bytes of this packet (filled by the driver for IN transfers)
  std::uint32_t status;  // a UsbResult code
};
#pragma pack(pop)
static_assert(sizeof(IsoPacket) == 8);

// Waits without a limit where a time-out in milliseconds is expected.
inline constexpr std::uint32_t kInfiniteTimeout = 0xFFFFFFFF;
inline constexpr std::uint32_t kMillisecondsPerSecond = 1000;

// The control record carries whole seconds: the time-out divided by 1000, but at least 1 second
// for any time-out between 1 and 999 ms (so a short limit never becomes "no limit").
constexpr std::uint32_t ControlTimeoutSeconds(std::uint32_t timeoutMs) {
  if (timeoutMs > 0 && timeoutMs < kMillisecondsPerSecond) return 1;
  return timeoutMs / kMillisecondsPerSecond;
}

// Control request fields of bmRequestType.
enum class RequestTarget : std::uint8_t { kDevice = 0, kInterface = 1, kEndpoint = 2, kOther = 3 };
enum class RequestKind : std::uint8_t { kStandard = 0, kClass = 1, kVendor = 2 };
enum class RequestDirection : std::uint8_t { kToDevice = 0, kFromDevice = 1 };

inline constexpr std::uint8_t kDirectionInBit = 0x80;
inline constexpr int kRequestKindShift = 5;
inline constexpr std::uint8_t kRequestTargetMask = 0x1F;

// bmRequestType: direction in bit 7, request kind in bits 5..6, target in bits 0..4.
constexpr std::uint8_t MakeRequestType(RequestDirection direction, RequestKind kind,
                                       RequestTarget target) {
  return static_cast<std::uint8_t>(
      (direction == RequestDirection::kFromDevice ? kDirectionInBit : 0) |
      (static_cast<std::uint8_t>(kind) << kRequestKindShift) |
      (static_cast<std::uint8_t>(target) & kRequestTargetMask));
}

constexpr bool IsInEndpoint(std::uint8_t address) { return (address & kDirectionInBit) != 0; }

}  // namespace torva::usb

namespace torva::usb {

// How long a control request may take: the caller's wait limit (kInfiniteTimeout = none),
// tightened by the record's own limit in whole seconds (0 = none). kInfiniteTimeout when neither
// limits it.
constexpr std::uint32_t EffectiveControlTimeoutMs(std::uint32_t waitMs,
                                                  std::uint32_t recordSeconds) {
  if (recordSeconds == 0) return waitMs;
  const std::uint64_t recordMs = std::uint64_t{recordSeconds} * kMillisecondsPerSecond;
  if (waitMs != kInfiniteTimeout && waitMs < recordMs) return waitMs;
  return recordMs >= kInfiniteTimeout ? kInfiniteTimeout : static_cast<std::uint32_t>(recordMs);
}

}  // namespace torva::usb
