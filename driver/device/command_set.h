#pragma once
// The amplifier command protocol: identifiers, vendor request codes and the one table of every
// command code the host may send. The device thread builds its packets from this table and the
// amplifier emulator decodes them with it, so the protocol is written down exactly once.

#include <cstddef>
#include <cstdint>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/device_runtime_block.h"

namespace torva {

// USB identity of the amplifiers.
inline constexpr std::uint16_t kAmplifierVendorId = 0x1F6D;
inline constexpr std::uint16_t kAmplifierProductId300 = 0x012C;  // product 300
inline constexpr std::uint16_t kAmplifierProductId200 = 0x00C8;  // product 200
// The bulk IN endpoint that carries the streaming packets.
inline constexpr std::uint8_t kDataEndpoint = 0x82;

// Vendor requests on endpoint 0.
inline constexpr std::uint8_t kCommandRequest = 0xB0;         // command packet, host to device
inline constexpr std::uint8_t kReadBackRequest = 0xB2;        // command packet of read-back commands
inline constexpr std::uint8_t kReplyRequest = 0xB4;           // reply of an unconfirmed command
inline constexpr std::uint8_t kConfirmReplyRequest = 0xB5;    // reply of a confirmed command
inline constexpr std::uint8_t kVendorOutRequestType = 0x40;   // vendor, device, host to device
inline constexpr std::uint8_t kVendorInRequestType = 0xC0;    // vendor, device, device to host

// Command and reply packets are made of 64-byte blocks.
inline constexpr std::size_t kBlockBytes = 64;
// Reply status byte value that means "done".
inline constexpr std::uint8_t kReplyStatusDone = 1;

enum class CommandCode : std::uint8_t {
  kResetHardware = 176,
  kResetSoftware = 177,
  kStart = 178,
  kStop = 179,
  kZero = 180,
  kTare = 181,
  kClearTare = 182,
  kSetGenlock = 183,
  kProgramExcitation = 185,
  kSetRunMode = 186,
  kApplyLimited = 187,
  kSave = 188,
  kSetDacValue = 191,
  kDacOff = 192,
  kBeginCalibrationDownload = 193,
  kCalibrationBlock = 194,
  kBlink = 195,
  kCopyFactoryParameters = 196,
  kPrepareBootLoad = 197,
  kBootChunk = 198,
  kReadAllParameters = 208,
  kSetAmplifierDate = 211,
  kSetPlatformModel = 212,
  kSetPlatformSerial = 213,
  kSetPlatformLength = 214,
  kSetPlatformWidth = 215,
  kSetPlatformDate = 216,
  kSetBridgeResistance = 217,
  kSetCapacity = 218,
  kSetXYZOffsets = 219,
  kSetSensitivityMatrix = 220,
  kSetGainTable = 221,
  kSetExcitationTable = 222,
  kSetChannelOffsets = 223,
  kSetDacGains = 224,
  kSetDacOffsets = 225,
  kSetProductType = 226,
  kSetMatrixMode = 227,
  kSetAcquisitionRate = 228,
  kSetCurrentGains = 229,
  kSetCurrentExcitations = 230,
  kSetADRef = 232,
  kSetCableLength = 233,
  kSetDacSensitivities = 234,
  kSetRotation = 235,
  kSetRotationCode = 238,
  kReadMechanicalLimits = 240,
  kReadAutozeroPots = 244,
  kReadTare = 245,
  kReadAnalogLimits = 246,
  kReadDownloadStatus = 247,
};

// Where the payload at byte 16 of a command packet comes from.
enum class PayloadSource : std::uint8_t {
  kNone,               // header only
  kParameterBlock,     // a slice of AmplifierParameterBlock
  kRuntimeBlock,       // a field of DeviceRuntimeBlock
  kCalibrationHeader,  // the calibration-download header (calibration_protocol.h)
  kCalibrationBlock,   // one 1024-byte block of the calibration stream
  kBootChunk,          // the boot chunk of the runtime block, its stored length of bytes
};

// Where the payload of a command's reply goes on the host.
enum class ReplyDestination : std::uint8_t {
  kNone,             // only the status byte matters
  kParameterBlock,   // a slice of AmplifierParameterBlock
  kRuntimeBlock,     // a field of DeviceRuntimeBlock
  kDownloadStatus,   // the plate status block of a calibration download
};

// A byte range within a record.
struct ByteSlice {
  std::uint16_t offset;
  std::uint16_t bytes;
};

struct CommandInfo {
  CommandCode code;
  const char* name;
  std::uint8_t blocks;       // n: the packet is 64 x n bytes
  std::uint8_t items;        // c: payload item count written to the header
  std::uint8_t replyBlocks;  // r: reply blocks to read, 0 = no reply
  std::uint8_t format;       // f: format byte written to the header
  bool confirmed;            // completes on reply status 1 (reply read with 0xB5)
  std::uint8_t request;      // bRequest of the command: kCommandRequest or kReadBackRequest
  bool transmitted;          // false for commands that put nothing on the wire
  PayloadSource payload;
  ByteSlice payloadSlice;    // for kParameterBlock and kRuntimeBlock
  ReplyDestination reply;
  ByteSlice replySlice;      // for kParameterBlock and kRuntimeBlock

  // bRequest of the reply read that follows this command.
  constexpr std::uint8_t ReplyRequest() const {
    return confirmed ? kConfirmReplyRequest : kReplyRequest;
  }
  constexpr std::size_t PacketBytes() const { return kBlockBytes * blocks; }
  constexpr std::size_t ReplyBytes() const { return kBlockBytes * replyBlocks; }
};

namespace command_set_detail {

#define TORVA_PARAMETER_SLICE(field)                                              \
  ByteSlice {                                                                     \
    static_cast<std::uint16_t>(offsetof(AmplifierParameterBlock, field)),         \
        static_cast<std::uint16_t>(sizeof(AmplifierParameterBlock::field))        \
  }
#define TORVA_RUNTIME_SLICE(field)                                                \
  ByteSlice {                                                                     \
    static_cast<std::uint16_t>(offsetof(DeviceRuntimeBlock, field)),              \
        static_cast<std::uint16_t>(sizeof(DeviceRuntimeBlock::field))             \
  }

inline constexpr ByteSlice kNoSlice{0, 0};
inline constexpr ByteSlice kWholeParameterBlock{
    0, static_cast<std::uint16_t>(sizeof(AmplifierParameterBlock))};

// A command without payload that is confirmed by a reply of one block.
constexpr CommandInfo Plain(CommandCode code, const char* name) {
  return {code, name, 1, 0, 1, 0, true, kCommandRequest, true,
          PayloadSource::kNone, kNoSlice, ReplyDestination::kNone, kNoSlice};
}
// A confirmed one-block command that writes a slice of the parameter block.
constexpr CommandInfo SetParameter(CommandCode code, const char* name, std::uint8_t blocks,
                                   std::uint8_t items, std::uint8_t format, ByteSlice slice) {
  return {code, name, blocks, items, 1, format, true, kCommandRequest, true,
          PayloadSource::kParameterBlock, slice, ReplyDestination::kNone, kNoSlice};
}
// An unconfirmed command whose reply fills a slice of a host record.
constexpr CommandInfo Read(CommandCode code, const char* name, std::uint8_t items,
                           std::uint8_t format, std::uint8_t request, ReplyDestination to,
                           ByteSlice slice) {
  return {code, name, 1, items, 1, format, false, request, true,
          PayloadSource::kNone, kNoSlice, to, slice};
}

}  // namespace command_set_detail

// Every command code the host knows, in ascending order of code.
inline constexpr CommandInfo kCommandTable[] = {
    command_set_detail::Plain(CommandCode::kResetHardware, "ResetHardware"),
    command_set_detail::Plain(CommandCode::kResetSoftware, "ResetSoftware"),
    {CommandCode::kStart, "Start", 1, 1, 0, 0, false, kCommandRequest, true,
     PayloadSource::kRuntimeBlock, TORVA_RUNTIME_SLICE(startFrame), ReplyDestination::kNone,
     command_set_detail::kNoSlice},
    command_set_detail::Plain(CommandCode::kStop, "Stop"),
    command_set_detail::Plain(CommandCode::kZero, "Zero"),
    command_set_detail::Plain(CommandCode::kTare, "Tare"),
    command_set_detail::Plain(CommandCode::kClearTare, "ClearTare"),
    command_set_detail::SetParameter(CommandCode::kSetGenlock, "SetGenlock", 1, 1, 1,
                                     TORVA_PARAMETER_SLICE(genlock)),
    command_set_detail::Plain(CommandCode::kProgramExcitation, "ProgramExcitation"),
    command_set_detail::SetParameter(CommandCode::kSetRunMode, "SetRunMode", 1, 1, 1,
                                     TORVA_PARAMETER_SLICE(runMode)),
    command_set_detail::Plain(CommandCode::kApplyLimited, "ApplyLimited"),
    command_set_detail::Plain(CommandCode::kSave, "Save"),
    {CommandCode::kSetDacValue, "SetDacValue", 1, 1, 1, 1, true, kCommandRequest, true,
     PayloadSource::kRuntimeBlock, TORVA_RUNTIME_SLICE(dacValue), ReplyDestination::kNone,
     command_set_detail::kNoSlice},
    command_set_detail::Plain(CommandCode::kDacOff, "DacOff"),
    {CommandCode::kBeginCalibrationDownload, "BeginCalibrationDownload", 1, 8, 1, 1, true,
     kCommandRequest, true, PayloadSource::kCalibrationHeader, command_set_detail::kNoSlice,
     ReplyDestination::kNone, command_set_detail::kNoSlice},
    {CommandCode::kCalibrationBlock, "CalibrationBlock", 17, 0, 1, 2, true, kCommandRequest, true,
     PayloadSource::kCalibrationBlock, command_set_detail::kNoSlice, ReplyDestination::kNone,
     command_set_detail::kNoSlice},
    command_set_detail::Plain(CommandCode::kBlink, "Blink"),
    command_set_detail::Plain(CommandCode::kCopyFactoryParameters, "CopyFactoryParameters"),
    {CommandCode::kPrepareBootLoad, "PrepareBootLoad", 0, 0, 0, 0, false, kCommandRequest, false,
     PayloadSource::kNone, command_set_detail::kNoSlice, ReplyDestination::kNone,
     command_set_detail::kNoSlice},
    // A whole 64-byte chunk after the 16-byte header needs a second block.
    {CommandCode::kBootChunk, "BootChunk", 2, 0, 1, 2, true, kReadBackRequest, true,
     PayloadSource::kBootChunk, TORVA_RUNTIME_SLICE(bootChunk), ReplyDestination::kNone,
     command_set_detail::kNoSlice},
    {CommandCode::kReadAllParameters, "ReadAllParameters", 1, 227, 15, 2, false, kReadBackRequest,
     true, PayloadSource::kNone, command_set_detail::kNoSlice, ReplyDestination::kParameterBlock,
     command_set_detail::kWholeParameterBlock},
    command_set_detail::SetParameter(CommandCode::kSetAmplifierDate, "SetAmplifierDate", 1, 12, 2,
                                     TORVA_PARAMETER_SLICE(amplifierDate)),
    command_set_detail::SetParameter(CommandCode::kSetPlatformModel, "SetPlatformModel", 1, 28, 2,
                                     TORVA_PARAMETER_SLICE(platformModel)),
    command_set_detail::SetParameter(CommandCode::kSetPlatformSerial, "SetPlatformSerial", 1, 16,
                                     2, TORVA_PARAMETER_SLICE(platformSerial)),
    command_set_detail::SetParameter(CommandCode::kSetPlatformLength, "SetPlatformLength", 1, 16,
                                     2, TORVA_PARAMETER_SLICE(platformLength)),
    command_set_detail::SetParameter(CommandCode::kSetPlatformWidth, "SetPlatformWidth", 1, 16, 2,
                                     TORVA_PARAMETER_SLICE(platformWidth)),
    command_set_detail::SetParameter(CommandCode::kSetPlatformDate, "SetPlatformDate", 1, 12, 2,
                                     TORVA_PARAMETER_SLICE(platformDate)),
    command_set_detail::SetParameter(CommandCode::kSetBridgeResistance, "SetBridgeResistance", 1,
                                     6, 0, TORVA_PARAMETER_SLICE(bridgeResistance)),
    command_set_detail::SetParameter(CommandCode::kSetCapacity, "SetCapacity", 1, 6, 0,
                                     TORVA_PARAMETER_SLICE(platformCapacity)),
    command_set_detail::SetParameter(CommandCode::kSetXYZOffsets, "SetXYZOffsets", 1, 3, 0,
                                     TORVA_PARAMETER_SLICE(platformOffsets)),
    command_set_detail::SetParameter(CommandCode::kSetSensitivityMatrix, "SetSensitivityMatrix", 3,
                                     36, 0, TORVA_PARAMETER_SLICE(invertedSensitivity)),
    command_set_detail::SetParameter(CommandCode::kSetGainTable, "SetGainTable", 2, 24, 0,
                                     TORVA_PARAMETER_SLICE(gainTable)),
    command_set_detail::SetParameter(CommandCode::kSetExcitationTable, "SetExcitationTable", 2, 18,
                                     0, TORVA_PARAMETER_SLICE(excitationTable)),
    command_set_detail::SetParameter(CommandCode::kSetChannelOffsets, "SetChannelOffsets", 1, 6, 1,
                                     TORVA_PARAMETER_SLICE(channelOffsets)),
    command_set_detail::SetParameter(CommandCode::kSetDacGains, "SetDacGains", 1, 6, 0,
                                     TORVA_PARAMETER_SLICE(dacGains)),
    command_set_detail::SetParameter(CommandCode::kSetDacOffsets, "SetDacOffsets", 1, 6, 1,
                                     TORVA_PARAMETER_SLICE(dacOffsets)),
    command_set_detail::SetParameter(CommandCode::kSetProductType, "SetProductType", 1, 1, 1,
                                     TORVA_PARAMETER_SLICE(productType)),
    command_set_detail::SetParameter(CommandCode::kSetMatrixMode, "SetMatrixMode", 1, 1, 1,
                                     TORVA_PARAMETER_SLICE(matrixMode)),
    command_set_detail::SetParameter(CommandCode::kSetAcquisitionRate, "SetAcquisitionRate", 1, 1,
                                     1, TORVA_PARAMETER_SLICE(acquisitionRate)),
    command_set_detail::SetParameter(CommandCode::kSetCurrentGains, "SetCurrentGains", 1, 6, 1,
                                     TORVA_PARAMETER_SLICE(currentGains)),
    command_set_detail::SetParameter(CommandCode::kSetCurrentExcitations,
                                     "SetCurrentExcitations", 1, 6, 1,
                                     TORVA_PARAMETER_SLICE(currentExcitations)),
    command_set_detail::SetParameter(CommandCode::kSetADRef, "SetADRef", 1, 1, 0,
                                     TORVA_PARAMETER_SLICE(adReference)),
    command_set_detail::SetParameter(CommandCode::kSetCableLength, "SetCableLength", 1, 1, 0,
                                     TORVA_PARAMETER_SLICE(cableLength)),
    command_set_detail::SetParameter(CommandCode::kSetDacSensitivities, "SetDacSensitivities", 1,
                                     6, 0, TORVA_PARAMETER_SLICE(dacSensitivities)),
    command_set_detail::SetParameter(CommandCode::kSetRotation, "SetRotation", 1, 1, 0,
                                     TORVA_PARAMETER_SLICE(platformRotation)),
    command_set_detail::SetParameter(CommandCode::kSetRotationCode, "SetRotationCode", 1, 3, 0,
                                     TORVA_PARAMETER_SLICE(rotationCode)),
    command_set_detail::Read(CommandCode::kReadMechanicalLimits, "ReadMechanicalLimits", 12, 0,
                             kCommandRequest, ReplyDestination::kParameterBlock,
                             TORVA_PARAMETER_SLICE(mechanicalLimits)),
    command_set_detail::Read(CommandCode::kReadAutozeroPots, "ReadAutozeroPots", 6, 1,
                             kReadBackRequest, ReplyDestination::kRuntimeBlock,
                             TORVA_RUNTIME_SLICE(autozeroPots)),
    command_set_detail::Read(CommandCode::kReadTare, "ReadTare", 6, 1, kReadBackRequest,
                             ReplyDestination::kRuntimeBlock, TORVA_RUNTIME_SLICE(tareValues)),
    command_set_detail::Read(CommandCode::kReadAnalogLimits, "ReadAnalogLimits", 12, 0,
                             kCommandRequest, ReplyDestination::kParameterBlock,
                             TORVA_PARAMETER_SLICE(analogLimits)),
    command_set_detail::Read(CommandCode::kReadDownloadStatus, "ReadDownloadStatus", 4, 1,
                             kCommandRequest, ReplyDestination::kDownloadStatus,
                             TORVA_PARAMETER_SLICE(downloadStatus)),
};

#undef TORVA_PARAMETER_SLICE
#undef TORVA_RUNTIME_SLICE

inline constexpr std::size_t kCommandCount = sizeof(kCommandTable) / sizeof(kCommandTable[0]);

// The table entry of a code, or nullptr for a code outside the command set.
const CommandInfo* FindCommand(int code);

}  // namespace torva
