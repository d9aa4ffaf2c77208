#include "sim/firmware.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "driver/device/calibration_protocol.h"
#include "sim/parameter_memory.h"

namespace torva::sim {
namespace {

// Autozero potentiometers are 12-bit: mid-scale when nothing needs nulling.
constexpr std::int32_t kPotMidScale = 2048;
constexpr float kPotStepsPerUnit = 50.0f;  // pot steps per newton (or newton-metre) of offset
// Tare values are reported in hundredths of a newton (or newton-metre).
constexpr float kTareScale = 100.0f;

bool HeaderMatchesTable(const CommandPacketHeader& header, const CommandInfo& info,
                        std::uint8_t request) {
  return header.blockCount == info.blocks && header.itemCount == info.items &&
         header.replyBlocks == info.replyBlocks && header.format == info.format &&
         request == info.request;
}

}  // namespace

Firmware::Firmware(const AmplifierDescription& description)
    : memory_(BuildParameterMemory(description)), saved_(memory_), factory_(memory_) {}

void Firmware::ForceReplyStatus(std::uint8_t status, int replies) {
  forcedStatus_ = status;
  forcedReplies_ = replies;
}

void Firmware::Refuse(std::uint8_t code, std::uint8_t replyBlocks, bool confirmed) {
  if (replyBlocks == 0 || replyBlocks > kMaxReplyBlocks) {
    pending_.reset();
    return;
  }
  PendingReply reply;
  reply.code = code;
  reply.status = kReplyStatusRefused;
  reply.blocks = replyBlocks;
  reply.confirmed = confirmed;
  pending_ = reply;
}

CommandEffect Firmware::Execute(std::uint8_t request, const std::uint8_t* data,
                                std::size_t length, const PlateReading& plate) {
  CommandEffect effect;
  if (data == nullptr || length < kPacketHeaderBytes) {
    pending_.reset();
    return effect;
  }
  CommandPacketHeader header{};
  std::memcpy(&header, data, sizeof header);
  const CommandInfo* info = FindCommand(header.code);
  const auto packet = ParseCommandPacket(data, length);
  if (!packet || info == nullptr || !info->transmitted ||
      !HeaderMatchesTable(header, *info, request)) {
    Refuse(header.code, header.replyBlocks, info != nullptr && info->confirmed);
    return effect;
  }

  PendingReply reply;
  reply.code = header.code;
  reply.blocks = info->replyBlocks;
  reply.confirmed = info->confirmed;
  if (forcedReplies_ != 0) {
    // The firmware declines the command: nothing changes, the reply carries the forced status.
    if (forcedReplies_ > 0) --forcedReplies_;
    reply.status = forcedStatus_;
  } else {
    Apply(*info, packet->payload, packet->payloadBytes, plate, effect, reply);
  }
  if (info->replyBlocks == 0) {
    pending_.reset();
  } else {
    pending_ = reply;
  }
  return effect;
}

void Firmware::ReplyWith(PendingReply& reply, const void* data, std::size_t bytes) const {
  const std::size_t room = PayloadCapacity(reply.blocks);
  reply.payloadBytes = bytes < room ? bytes : room;
  std::memcpy(reply.payload.data(), data, reply.payloadBytes);
}

void Firmware::Apply(const CommandInfo& info, const std::uint8_t* payload,
                     std::size_t payloadBytes, const PlateReading& plate, CommandEffect& effect,
                     PendingReply& reply) {
  auto* memoryBytes = reinterpret_cast<std::uint8_t*>(&memory_);
  if (info.payload == PayloadSource::kParameterBlock) {
    // A setter: its slice of the memory takes the payload, and the reply echoes it.
    std::memcpy(memoryBytes + info.payloadSlice.offset, payload, info.payloadSlice.bytes);
    ReplyWith(reply, payload, info.payloadSlice.bytes);
    return;
  }
  if (info.reply == ReplyDestination::kParameterBlock) {
    ReplyWith(reply, memoryBytes + info.replySlice.offset, info.replySlice.bytes);
    return;
  }
  switch (info.code) {
    case CommandCode::kStart:
      effect.start = true;
      std::memcpy(&effect.startFrame, payload, sizeof effect.startFrame);
      break;
    case CommandCode::kStop:
    case CommandCode::kResetSoftware:
      effect.stop = true;
      break;
    case CommandCode::kResetHardware:
      // A hardware reset restarts the amplifier from what was last saved.
      effect.stop = true;
      memory_ = saved_;
      zeroed_ = false;
      std::memset(tare_, 0, sizeof tare_);
      dacOn_ = false;
      break;
    case CommandCode::kZero:
      zeroed_ = true;
      break;
    case CommandCode::kTare:
      for (std::size_t c = 0; c < kChannelCount; ++c) {
        tare_[c] = plate.reading[c] - (zeroed_ ? plate.drift[c] : 0.0f);
      }
      break;
    case CommandCode::kClearTare:
      std::memset(tare_, 0, sizeof tare_);
      break;
    case CommandCode::kSave:
      saved_ = memory_;
      break;
    case CommandCode::kCopyFactoryParameters:
      memory_ = factory_;
      break;
    case CommandCode::kSetDacValue:
      std::memcpy(&dacValue_, payload, sizeof dacValue_);
      dacOn_ = true;
      break;
    case CommandCode::kDacOff:
      dacOn_ = false;
      break;
    case CommandCode::kBlink:
      ++blinks_;
      break;
    case CommandCode::kBeginCalibrationDownload: {
      CalibrationDownloadHeader header{};
      std::memcpy(&header, payload, sizeof header);
      calibration_.Begin(header);
      break;
    }
    case CommandCode::kCalibrationBlock:
      if (!calibration_.ReceiveBlock(payload, payloadBytes)) reply.status = kReplyStatusRefused;
      if (calibration_.Succeeded()) {
        memory_.smartPlateStatus = static_cast<std::int32_t>(SmartPlateStatus::kCalibrated);
      }
      break;
    case CommandCode::kReadDownloadStatus: {
      const PlateStatusBlock status = calibration_.Query();
      std::memcpy(memory_.downloadStatus, &status, sizeof status);
      ReplyWith(reply, &status, sizeof status);
      break;
    }
    case CommandCode::kReadAutozeroPots:
      ReadAutozeroPots(plate, reply);
      break;
    case CommandCode::kReadTare:
      ReadTare(reply);
      break;
    case CommandCode::kBootChunk:
      // The packet does not say how many of its chunk bytes are valid, so the boot loader keeps
      // whole chunks; a short final chunk arrives zero-padded.
      bootImage_.insert(bootImage_.end(), payload,
                        payload + std::min(payloadBytes, kBootChunkBytes));
      break;
    default:
      // ProgramExcitation, ApplyLimited: acknowledged, nothing to emulate.
      break;
  }
}

void Firmware::ReadAutozeroPots(const PlateReading& plate, PendingReply& reply) const {
  std::int32_t pots[kChannelCount];
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    const float nulling = zeroed_ ? -plate.drift[c] * kPotStepsPerUnit : 0.0f;
    pots[c] = kPotMidScale + static_cast<std::int32_t>(std::lround(nulling));
  }
  ReplyWith(reply, pots, sizeof pots);
}

void Firmware::ReadTare(PendingReply& reply) const {
  std::int32_t values[kChannelCount];
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    values[c] = static_cast<std::int32_t>(std::lround(tare_[c] * kTareScale));
  }
  ReplyWith(reply, values, sizeof values);
}

std::optional<std::size_t> Firmware::TakeReply(std::uint8_t request, std::uint8_t* out,
                                               std::size_t capacity) {
  if (!pending_) return std::nullopt;
  const PendingReply reply = *pending_;
  pending_.reset();
  const std::uint8_t expected = reply.confirmed ? kConfirmReplyRequest : kReplyRequest;
  const std::uint8_t status = request == expected ? reply.status : kReplyStatusRefused;
  ReplyPacketBuffer packet{};
  const std::size_t length = BuildReplyPacket(reply.code, status, reply.payload.data(),
                                              reply.payloadBytes, reply.blocks, packet.data(),
                                              packet.size());
  const std::size_t copied = length < capacity ? length : capacity;
  if (copied > 0) std::memcpy(out, packet.data(), copied);
  return copied;
}

void Firmware::Condition(ChannelValues& values, const ChannelValues& drift) const {
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    values[c] -= (zeroed_ ? drift[c] : 0.0f) + tare_[c];
  }
}

}  // namespace torva::sim
