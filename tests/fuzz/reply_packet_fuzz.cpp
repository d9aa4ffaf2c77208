// libFuzzer target: any bytes as an amplifier's reply, and as a command packet the emulated
// amplifier receives. A decoded reply's payload lies within the bytes; building the reply again
// from its code, status and payload gives the same bytes but for the reserved header bytes.
// A command packet decodes only at 64 x its block count, and its payload is the rest.

#include <cstring>
#include <vector>

#include "driver/device/command_packet.h"
#include "tests/fuzz/fuzz_support.h"

using namespace torva;

namespace {

void CheckReply(const std::uint8_t* data, std::size_t size) {
  const auto reply = ParseReplyPacket(data, size);
  FUZZ_CHECK(reply.has_value() == (size >= kPacketHeaderBytes), "a reply needs its header");
  if (!reply) return;
  FUZZ_CHECK(reply->code == data[offsetof(ReplyPacketHeader, code)] &&
                 reply->status == data[offsetof(ReplyPacketHeader, status)],
             "code and status from their bytes");
  FUZZ_CHECK(reply->payload == data + kPacketHeaderBytes &&
                 reply->payloadBytes == size - kPacketHeaderBytes,
             "the payload is the rest of the reply, within it");
  if (size % kBlockBytes != 0 || size > kMaxReplyPacketBytes) return;

  ReplyPacketBuffer rebuilt{};
  const std::size_t length = BuildReplyPacket(reply->code, reply->status, reply->payload,
                                              reply->payloadBytes, size / kBlockBytes,
                                              rebuilt.data(), rebuilt.size());
  FUZZ_CHECK(length == size, "a reply of whole blocks builds again");
  std::vector<std::uint8_t> expected(data, data + size);
  std::memset(expected.data(), 0, kPacketHeaderBytes);
  expected[offsetof(ReplyPacketHeader, code)] = reply->code;
  expected[offsetof(ReplyPacketHeader, status)] = reply->status;
  FUZZ_CHECK(std::memcmp(rebuilt.data(), expected.data(), size) == 0,
             "decoded and built again gives the same bytes");
}

void CheckCommand(const std::uint8_t* data, std::size_t size) {
  const auto command = ParseCommandPacket(data, size);
  const bool wellFormed = size >= kBlockBytes && data[0] != 0 && size == data[0] * kBlockBytes;
  FUZZ_CHECK(command.has_value() == wellFormed, "a command decodes exactly at 64 x its blocks");
  if (!command) return;
  FUZZ_CHECK(command->payload == data + kPacketHeaderBytes &&
                 command->payloadBytes == size - kPacketHeaderBytes &&
                 command->payloadBytes == PayloadCapacity(command->header.blockCount),
             "the payload fills the packet after the header");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so that ASan sees any read past the end.
  const std::vector<std::uint8_t> bytes(data, data + size);
  CheckReply(bytes.data(), bytes.size());
  CheckCommand(bytes.data(), bytes.size());
  return 0;
}
