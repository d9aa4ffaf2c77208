#pragma once
// Per-amplifier runtime record. The control thread keeps the master copy of each amplifier's
// block and copies it over the device thread's copy before every queued command.

#include <cstddef>
#include <cstdint>

namespace torva {

inline constexpr std::size_t kDeviceRuntimeBlockBytes = 1124;
inline constexpr std::size_t kBootChunkBytes = 64;
inline constexpr std::int32_t kDefaultPacketSize = 512;

#pragma pack(push, 1)
struct DeviceRuntimeBlock {
  std::int32_t autozeroPots[6];        // reply of ReadAutozeroPots
  std::int32_t autozeroValid;          // 1 once that reply arrived
  std::int32_t tareValues[6];          // reply of ReadTare
  std::int32_t dacValue;               // payload of SetDacValue
  std::int32_t tareValid;              // 1 once the ReadTare reply arrived
  std::int32_t mechanicalLimitsValid;  // 1 once the ReadMechanicalLimits reply arrived
  std::int32_t analogLimitsValid;      // 1 once the ReadAnalogLimits reply arrived
  std::int32_t downloadStatusValid;    // 1 once a ReadDownloadStatus reply was handed over
  std::int32_t packetSize;             // bytes per streaming packet
  std::int32_t unused76;
  std::int32_t startFrame;             // payload of Start: USB frame at which sampling begins
  std::uint8_t bootChunk[kBootChunkBytes];  // one piece of a firmware image
  std::uint8_t bootChunkSpare[960];
  std::int32_t bootChunkLength;        // valid bytes in bootChunk, 1..64
  float orderingThreshold;             // platform-ordering load threshold
  std::int32_t orderingThresholdSet;
  std::int32_t lastWord;               // zero at creation
};
#pragma pack(pop)

static_assert(sizeof(DeviceRuntimeBlock) == kDeviceRuntimeBlockBytes);
static_assert(offsetof(DeviceRuntimeBlock, autozeroValid) == 24);
static_assert(offsetof(DeviceRuntimeBlock, tareValues) == 28);
static_assert(offsetof(DeviceRuntimeBlock, dacValue) == 52);
static_assert(offsetof(DeviceRuntimeBlock, tareValid) == 56);
static_assert(offsetof(DeviceRuntimeBlock, downloadStatusValid) == 68);
static_assert(offsetof(DeviceRuntimeBlock, packetSize) == 72);
static_assert(offsetof(DeviceRuntimeBlock, startFrame) == 80);
static_assert(offsetof(DeviceRuntimeBlock, bootChunk) == 84);
static_assert(offsetof(DeviceRuntimeBlock, bootChunkLength) == 1108);
static_assert(offsetof(DeviceRuntimeBlock, orderingThreshold) == 1112);
static_assert(offsetof(DeviceRuntimeBlock, lastWord) == 1120);

}  // namespace torva
