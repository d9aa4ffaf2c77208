#pragma once
// What the host does on the wire, written against the emulator model directly: send a command
// packet as a vendor control OUT, read its reply as a vendor control IN, read streaming packets.

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "driver/device/command_packet.h"
#include "driver/device/command_set.h"
#include "driver/device/streaming_packet.h"
#include "sim/emulated_amplifier.h"

namespace torva::sim::testing {

inline const CommandInfo& Info(CommandCode code) { return *FindCommand(static_cast<int>(code)); }

// Sends `info`'s packet with the payload; true when the amplifier took the control transfer.
inline bool Send(EmulatedAmplifier& amplifier, const CommandInfo& info, const void* payload,
                 std::size_t bytes) {
  CommandPacketBuffer packet{};
  const std::size_t length = BuildCommandPacket(info, payload, bytes, packet.data(), packet.size());
  if (length == 0) return false;
  SetupPacket setup;
  setup.requestType = kVendorOutRequestType;
  setup.request = info.request;
  setup.length = static_cast<std::uint16_t>(length);
  return amplifier.ControlOut(setup, packet.data(), length).status == TransferStatus::kCompleted;
}

inline bool Send(EmulatedAmplifier& amplifier, CommandCode code, const void* payload = nullptr,
                 std::size_t bytes = 0) {
  return Send(amplifier, Info(code), payload, bytes);
}

// Reads the reply with `request`, the 64 x r bytes the host asks for; empty when it stalled.
inline std::optional<std::vector<std::uint8_t>> ReadReply(EmulatedAmplifier& amplifier,
                                                          const CommandInfo& info,
                                                          std::uint8_t request) {
  std::vector<std::uint8_t> reply(info.ReplyBytes());
  SetupPacket setup;
  setup.requestType = kVendorInRequestType;
  setup.request = request;
  setup.length = static_cast<std::uint16_t>(reply.size());
  const TransferResult result = amplifier.ControlIn(setup, reply.data(), reply.size());
  if (result.status != TransferStatus::kCompleted) return std::nullopt;
  reply.resize(result.bytes);
  return reply;
}

inline std::optional<std::vector<std::uint8_t>> ReadReply(EmulatedAmplifier& amplifier,
                                                          CommandCode code) {
  const CommandInfo& info = Info(code);
  return ReadReply(amplifier, info, info.ReplyRequest());
}

// Sends a command and reads its reply (status and payload).
struct Exchange {
  std::uint8_t code = 0;
  std::uint8_t status = 0;
  std::vector<std::uint8_t> payload;
};

inline std::optional<Exchange> Command(EmulatedAmplifier& amplifier, CommandCode code,
                                       const void* payload = nullptr, std::size_t bytes = 0) {
  if (!Send(amplifier, code, payload, bytes)) return std::nullopt;
  const auto reply = ReadReply(amplifier, code);
  if (!reply) return std::nullopt;
  const auto view = ParseReplyPacket(reply->data(), reply->size());
  if (!view) return std::nullopt;
  return Exchange{view->code, view->status,
                  std::vector<std::uint8_t>(view->payload, view->payload + view->payloadBytes)};
}

// The memory as ReadAllParameters returns it.
inline std::optional<AmplifierParameterBlock> ReadAllParameters(EmulatedAmplifier& amplifier) {
  const auto exchange = Command(amplifier, CommandCode::kReadAllParameters);
  if (!exchange || exchange->payload.size() < sizeof(AmplifierParameterBlock)) return std::nullopt;
  AmplifierParameterBlock block;
  std::memcpy(&block, exchange->payload.data(), sizeof block);
  return block;
}

inline bool SetRate(EmulatedAmplifier& amplifier, std::int32_t rate) {
  const auto exchange = Command(amplifier, CommandCode::kSetAcquisitionRate, &rate, sizeof rate);
  return exchange && exchange->status == kReplyStatusDone;
}

inline bool Start(EmulatedAmplifier& amplifier, std::int32_t startFrame = 0) {
  return Send(amplifier, CommandCode::kStart, &startFrame, sizeof startFrame);
}

// One streaming packet, waiting at most `limit`.
inline std::optional<StreamingPacket> ReadPacket(EmulatedAmplifier& amplifier,
                                                 std::chrono::milliseconds limit,
                                                 TransferStatus* status = nullptr) {
  StreamingPacket packet{};
  const TransferResult result =
      amplifier.BulkIn(kDataEndpoint, reinterpret_cast<std::uint8_t*>(&packet), sizeof packet,
                       std::chrono::steady_clock::now() + limit);
  if (status != nullptr) *status = result.status;
  if (result.status != TransferStatus::kCompleted) return std::nullopt;
  return packet;
}

}  // namespace torva::sim::testing
