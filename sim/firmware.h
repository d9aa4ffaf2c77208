#pragma once
// The command side of an emulated amplifier's firmware: decodes each command packet, checks it
// against the command table, applies it to the parameter memory and the amplifier's state, and
// keeps the reply that the next reply request collects. Not synchronised: the owning
// EmulatedAmplifier guards it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/command_packet.h"
#include "sim/amplifier_description.h"
#include "sim/calibration_receiver.h"
#include "sim/signal_generator.h"

namespace torva::sim {

// Status byte of a reply to a command the firmware refused: a malformed packet, a code outside
// the command set, header fields or request code that disagree with the command table, a reply
// request of the wrong kind, or a calibration block the plate was not ready for.
inline constexpr std::uint8_t kReplyStatusRefused = 0;

// What a command asks of the streaming side.
struct CommandEffect {
  bool start = false;
  std::int32_t startFrame = 0;  // USB frame at which sampling begins
  bool stop = false;
};

// The plate's state at the moment a command arrives.
struct PlateReading {
  ChannelValues reading;  // what the channels read now, before zero and tare, without noise
  ChannelValues drift;    // the unzeroed offset within that reading
};

class Firmware {
 public:
  explicit Firmware(const AmplifierDescription& description);

  // Carries out one command packet received with vendor request `request`.
  CommandEffect Execute(std::uint8_t request, const std::uint8_t* data, std::size_t length,
                        const PlateReading& plate);
  // Answers a reply request (bRequest `request`) into `out`; empty when no reply is pending, which
  // the transport reports as a stall. The reply is consumed.
  std::optional<std::size_t> TakeReply(std::uint8_t request, std::uint8_t* out,
                                       std::size_t capacity);
  // Applies zero and tare to streamed values.
  void Condition(ChannelValues& values, const ChannelValues& drift) const;
  // A USB reset: any pending reply is lost.
  void OnBusReset() { pending_.reset(); }

  const AmplifierParameterBlock& Memory() const { return memory_; }
  AmplifierParameterBlock& Memory() { return memory_; }
  CalibrationReceiver& Calibration() { return calibration_; }
  const CalibrationReceiver& Calibration() const { return calibration_; }
  int BlinkCount() const { return blinks_; }
  // Every boot chunk received, appended in arrival order.
  const std::vector<std::uint8_t>& BootImage() const { return bootImage_; }
  bool Zeroed() const { return zeroed_; }
  const ChannelValues& Tare() const { return tare_; }
  std::int32_t DacValue() const { return dacValue_; }
  bool DacOn() const { return dacOn_; }

  // Fault knob: the next `replies` commands (forever when negative) are not carried out and
  // their replies carry `status`. 0 replies switches it off.
  void ForceReplyStatus(std::uint8_t status, int replies);

 private:
  struct PendingReply {
    std::uint8_t code = 0;
    std::uint8_t status = kReplyStatusDone;
    std::uint8_t blocks = 0;
    bool confirmed = false;
    std::array<std::uint8_t, kMaxReplyPacketBytes - kPacketHeaderBytes> payload{};
    std::size_t payloadBytes = 0;
  };

  void Refuse(std::uint8_t code, std::uint8_t replyBlocks, bool confirmed);
  void Apply(const CommandInfo& info, const std::uint8_t* payload, std::size_t payloadBytes,
             const PlateReading& plate, CommandEffect& effect, PendingReply& reply);
  void ReplyWith(PendingReply& reply, const void* data, std::size_t bytes) const;
  void ReadAutozeroPots(const PlateReading& plate, PendingReply& reply) const;
  void ReadTare(PendingReply& reply) const;

  AmplifierParameterBlock memory_;
  AmplifierParameterBlock saved_;    // what Save stored; a hardware reset reloads it
  AmplifierParameterBlock factory_;  // what CopyFactoryParameters restores
  CalibrationReceiver calibration_;
  std::optional<PendingReply> pending_;
  ChannelValues tare_{};
  bool zeroed_ = false;
  std::int32_t dacValue_ = 0;
  bool dacOn_ = false;
  int blinks_ = 0;
  std::vector<std::uint8_t> bootImage_;
  std::uint8_t forcedStatus_ = kReplyStatusDone;
  int forcedReplies_ = 0;
};

}  // namespace torva::sim
