#include "driver/device/command_set.h"

#include "driver/device/calibration_protocol.h"
#include "driver/device/command_packet.h"

namespace torva {
namespace {

constexpr bool CodesAscend() {
  for (std::size_t i = 1; i < kCommandCount; ++i) {
    if (kCommandTable[i - 1].code >= kCommandTable[i].code) return false;
  }
  return true;
}

constexpr std::size_t PayloadBytes(const CommandInfo& info) {
  switch (info.payload) {
    case PayloadSource::kParameterBlock:
    case PayloadSource::kRuntimeBlock:
      return info.payloadSlice.bytes;
    case PayloadSource::kCalibrationHeader:
      return sizeof(CalibrationDownloadHeader);
    case PayloadSource::kCalibrationBlock:
      return kCalibrationBlockBytes;
    case PayloadSource::kBootChunk:  // variable length, checked when the packet is built
    case PayloadSource::kNone:
      return 0;
  }
  return 0;
}

// Every fixed payload fits its packet and every reply payload fits its reply.
constexpr bool PacketsHoldTheirPayloads() {
  for (const CommandInfo& info : kCommandTable) {
    if (!info.transmitted) continue;
    if (kPacketHeaderBytes + PayloadBytes(info) > info.PacketBytes()) return false;
    if (info.reply != ReplyDestination::kNone &&
        kPacketHeaderBytes + info.replySlice.bytes > info.ReplyBytes()) {
      return false;
    }
  }
  return true;
}

static_assert(CodesAscend(), "the command table is sorted by code, without repeats");
static_assert(PacketsHoldTheirPayloads(), "a command's payload does not fit its packet");
static_assert(kCommandTable[0].code == CommandCode::kResetHardware);
static_assert(kCommandTable[kCommandCount - 1].code == CommandCode::kReadDownloadStatus);

}  // namespace

const CommandInfo* FindCommand(int code) {
  for (const CommandInfo& info : kCommandTable) {
    if (static_cast<int>(info.code) == code) return &info;
  }
  return nullptr;
}

}  // namespace torva
