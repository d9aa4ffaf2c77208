#pragma once
// Command and reply packets of the amplifier protocol: a 16-byte header followed by the payload,
// the whole packet a multiple of 64-byte blocks. The builders never write past the buffer they
// are given and refuse payloads that do not fit the command's block count.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/command_set.h"
#include "driver/device/device_runtime_block.h"

namespace torva {

// The payload of command and reply packets starts at this byte.
inline constexpr std::size_t kPacketHeaderBytes = 16;
// The largest packets of the command set: CalibrationBlock (17 blocks) and the reply of
// ReadAllParameters (15 blocks).
inline constexpr std::size_t kMaxCommandBlocks = 17;
inline constexpr std::size_t kMaxReplyBlocks = 15;
inline constexpr std::size_t kMaxCommandPacketBytes = kMaxCommandBlocks * kBlockBytes;
inline constexpr std::size_t kMaxReplyPacketBytes = kMaxReplyBlocks * kBlockBytes;

using CommandPacketBuffer = std::array<std::uint8_t, kMaxCommandPacketBytes>;
using ReplyPacketBuffer = std::array<std::uint8_t, kMaxReplyPacketBytes>;

#pragma pack(push, 1)
struct CommandPacketHeader {
  std::uint8_t blockCount;   // n: the packet is 64 x n bytes
  std::uint8_t code;         // CommandCode
  std::uint8_t itemCount;
  std::uint8_t replyBlocks;  // r: 0 = no reply is read
  std::uint8_t format;
  std::uint8_t reserved[11];  // zero
};

struct ReplyPacketHeader {
  std::uint8_t reserved0;
  std::uint8_t code;         // echo of the command code
  std::uint8_t reserved2[3];
  std::uint8_t status;       // kReplyStatusDone when the command was carried out
  std::uint8_t reserved6[10];
};
#pragma pack(pop)

static_assert(sizeof(CommandPacketHeader) == kPacketHeaderBytes);
static_assert(offsetof(CommandPacketHeader, code) == 1);
static_assert(offsetof(CommandPacketHeader, itemCount) == 2);
static_assert(offsetof(CommandPacketHeader, replyBlocks) == 3);
static_assert(offsetof(CommandPacketHeader, format) == 4);
static_assert(sizeof(ReplyPacketHeader) == kPacketHeaderBytes);
static_assert(offsetof(ReplyPacketHeader, code) == 1);
static_assert(offsetof(ReplyPacketHeader, status) == 5);

// Payload room of a packet of `blocks` blocks.
constexpr std::size_t PayloadCapacity(std::size_t blocks) {
  return blocks * kBlockBytes > kPacketHeaderBytes ? blocks * kBlockBytes - kPacketHeaderBytes : 0;
}

// Writes the packet of `info` with the given payload into `out`, zero-padded to 64 x n bytes.
// Returns the packet length, or 0 when the command puts nothing on the wire, the payload does not
// fit the packet, or `capacity` is too small.
std::size_t BuildCommandPacket(const CommandInfo& info, const void* payload,
                               std::size_t payloadBytes, std::uint8_t* out,
                               std::size_t capacity);

// As BuildCommandPacket, with the payload the table names taken from the host's records
// (parameter-block slice, runtime-block field, boot chunk, or none). Calibration payloads are not
// in the records: for those commands this returns 0.
std::size_t BuildCommandPacketFromRecords(const CommandInfo& info,
                                          const AmplifierParameterBlock& parameters,
                                          const DeviceRuntimeBlock& runtime, std::uint8_t* out,
                                          std::size_t capacity);

struct CommandPacketView {
  CommandPacketHeader header;
  const std::uint8_t* payload;  // points into the parsed buffer
  std::size_t payloadBytes;     // 64 x n - 16
};

// Decodes a received command packet. Empty when the data is shorter than one block or its length
// is not 64 x the header's block count.
std::optional<CommandPacketView> ParseCommandPacket(const std::uint8_t* data, std::size_t length);

// Writes a reply packet of `replyBlocks` blocks: the code echoed in byte 1, the status in byte 5
// and the payload from byte 16, zero-padded. Returns the length, or 0 when it does not fit.
std::size_t BuildReplyPacket(std::uint8_t code, std::uint8_t status, const void* payload,
                             std::size_t payloadBytes, std::size_t replyBlocks, std::uint8_t* out,
                             std::size_t capacity);

struct ReplyPacketView {
  std::uint8_t code;
  std::uint8_t status;
  const std::uint8_t* payload;  // points into the parsed buffer
  std::size_t payloadBytes;
};

// Decodes a received reply; empty when it is shorter than the header.
std::optional<ReplyPacketView> ParseReplyPacket(const std::uint8_t* data, std::size_t length);

}  // namespace torva
