#include "driver/device/command_packet.h"

#include <cstring>

namespace torva {

std::size_t BuildCommandPacket(const CommandInfo& info, const void* payload,
                               std::size_t payloadBytes, std::uint8_t* out,
                               std::size_t capacity) {
  const std::size_t length = info.PacketBytes();
  if (!info.transmitted || length == 0 || out == nullptr || capacity < length) return 0;
  if (payloadBytes > PayloadCapacity(info.blocks) || (payloadBytes > 0 && payload == nullptr)) {
    return 0;
  }
  std::memset(out, 0, length);
  CommandPacketHeader header{};
  header.blockCount = info.blocks;
  header.code = static_cast<std::uint8_t>(info.code);
  header.itemCount = info.items;
  header.replyBlocks = info.replyBlocks;
  header.format = info.format;
  std::memcpy(out, &header, sizeof header);
  if (payloadBytes > 0) std::memcpy(out + kPacketHeaderBytes, payload, payloadBytes);
  return length;
}

std::size_t BuildCommandPacketFromRecords(const CommandInfo& info,
                                          const AmplifierParameterBlock& parameters,
                                          const DeviceRuntimeBlock& runtime, std::uint8_t* out,
                                          std::size_t capacity) {
  const auto* parameterBytes = reinterpret_cast<const std::uint8_t*>(&parameters);
  const auto* runtimeBytes = reinterpret_cast<const std::uint8_t*>(&runtime);
  switch (info.payload) {
    case PayloadSource::kNone:
      return BuildCommandPacket(info, nullptr, 0, out, capacity);
    case PayloadSource::kParameterBlock:
      return BuildCommandPacket(info, parameterBytes + info.payloadSlice.offset,
                                info.payloadSlice.bytes, out, capacity);
    case PayloadSource::kRuntimeBlock:
      return BuildCommandPacket(info, runtimeBytes + info.payloadSlice.offset,
                                info.payloadSlice.bytes, out, capacity);
    case PayloadSource::kBootChunk: {
      // The stored length comes from the caller: anything outside 1..64 is refused rather than
      // read past the chunk, and BuildCommandPacket refuses what does not fit the packet.
      const std::int32_t length = runtime.bootChunkLength;
      if (length < 1 || length > static_cast<std::int32_t>(kBootChunkBytes)) return 0;
      return BuildCommandPacket(info, runtime.bootChunk, static_cast<std::size_t>(length), out,
                                capacity);
    }
    case PayloadSource::kCalibrationHeader:
    case PayloadSource::kCalibrationBlock:
      return 0;
  }
  return 0;
}

std::optional<CommandPacketView> ParseCommandPacket(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || length < kBlockBytes) return std::nullopt;
  CommandPacketView view{};
  std::memcpy(&view.header, data, sizeof view.header);
  if (view.header.blockCount == 0 || length != view.header.blockCount * kBlockBytes) {
    return std::nullopt;
  }
  view.payload = data + kPacketHeaderBytes;
  view.payloadBytes = length - kPacketHeaderBytes;
  return view;
}

std::size_t BuildReplyPacket(std::uint8_t code, std::uint8_t status, const void* payload,
                             std::size_t payloadBytes, std::size_t replyBlocks, std::uint8_t* out,
                             std::size_t capacity) {
  const std::size_t length = replyBlocks * kBlockBytes;
  if (length == 0 || out == nullptr || capacity < length) return 0;
  if (payloadBytes > PayloadCapacity(replyBlocks) || (payloadBytes > 0 && payload == nullptr)) {
    return 0;
  }
  std::memset(out, 0, length);
  ReplyPacketHeader header{};
  header.code = code;
  header.status = status;
  std::memcpy(out, &header, sizeof header);
  if (payloadBytes > 0) std::memcpy(out + kPacketHeaderBytes, payload, payloadBytes);
  return length;
}

std::optional<ReplyPacketView> ParseReplyPacket(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || length < kPacketHeaderBytes) return std::nullopt;
  ReplyPacketHeader header{};
  std::memcpy(&header, data, sizeof header);
  return ReplyPacketView{header.code, header.status, data + kPacketHeaderBytes,
                         length - kPacketHeaderBytes};
}

}  // namespace torva
