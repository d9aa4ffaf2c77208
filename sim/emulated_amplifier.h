#pragma once
// One emulated amplifier: the firmware's side of the USB protocol, independent of any transport.
// A transport (the emulated kernel driver of driver/usb, or a usbfs ioctl handler) calls the
// plain entry points below: control OUT and IN with a setup packet, bulk IN (blocking with a
// deadline and abortable, or polled without blocking), pipe and device operations.
//
// Threads: every public member may be called from any thread. One mutex guards all state; it is
// held only for short, non-blocking work. A blocking BulkIn waits on a condition variable until
// its packet's absolute deadline, its own deadline, an abort of its endpoint, a change of the
// streaming state or an unplug, whichever comes first; nothing in the model spins.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/calibration_protocol.h"
#include "sim/amplifier_description.h"
#include "sim/firmware.h"
#include "sim/signal_generator.h"
#include "sim/stream_schedule.h"
#include "sim/wire_log.h"

namespace torva::sim {

enum class TransferStatus {
  kCompleted,
  kPending,    // PollBulkIn only: no data yet
  kTimeout,
  kCancelled,  // the pipe was aborted
  kStall,      // the endpoint is halted or the request is not supported
  kNoDevice,   // unplugged
  kOverflow,   // the buffer is smaller than the packet
};

struct TransferResult {
  TransferStatus status = TransferStatus::kStall;
  std::size_t bytes = 0;
};

// Result of a non-blocking bulk IN: kPending with the time at which a packet will be ready (none
// while no packet is scheduled: poll again after the next control request).
struct BulkPoll {
  TransferResult result;
  std::optional<SteadyTime> readyAt;
};

class EmulatedAmplifier {
 public:
  EmulatedAmplifier(AmplifierDescription description, SteadyTime busEpoch);
  EmulatedAmplifier(const EmulatedAmplifier&) = delete;
  EmulatedAmplifier& operator=(const EmulatedAmplifier&) = delete;

  const AmplifierDescription& Description() const { return description_; }

  // Standard descriptors (raw bytes).
  std::vector<std::uint8_t> DeviceDescriptor() const;
  std::vector<std::uint8_t> ConfigurationDescriptor(std::uint8_t index) const;
  std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const;

  // ---- Transport entry points ----
  TransferResult ControlOut(const SetupPacket& setup, const std::uint8_t* data,
                            std::size_t length);
  TransferResult ControlIn(const SetupPacket& setup, std::uint8_t* data, std::size_t capacity);
  static constexpr std::chrono::seconds kHeldReplyLimit{10};
  // Blocks until a packet is ready, `deadline` passes (none: no limit), the endpoint is aborted,
  // or the device is unplugged.
  TransferResult BulkIn(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t length,
                        std::optional<SteadyTime> deadline);
  // Never blocks: delivers a packet that is ready at `now`, or says when one will be.
  BulkPoll PollBulkIn(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t length,
                      SteadyTime now);
  TransferResult BulkOut(std::uint8_t endpoint, const std::uint8_t* data, std::size_t length);
  // Ends every blocking BulkIn pending on the endpoint now (they report kCancelled).
  void AbortPipe(std::uint8_t endpoint);
  bool ClearHalt(std::uint8_t endpoint);
  bool ResetDevice();
  std::optional<std::uint8_t> AlternateSetting() const;
  bool SelectAlternateSetting(std::uint8_t setting);
  // The bus's USB frame number: 1 per millisecond since the bus epoch, 11 bits.
  std::uint32_t FrameNumber(SteadyTime now) const;
  bool Present() const;

  // ---- Inspection for tests ----
  std::vector<WireRecord> WireLog() const;
  // Codes of the command packets received, in order.
  std::vector<int> ReceivedCommandCodes() const;
  void ClearWireLog();
  AmplifierParameterBlock Memory() const;
  bool Streaming() const;
  std::int32_t StreamRate() const;
  std::int64_t PacketsSent() const;
  std::vector<std::uint8_t> ReceivedCalibration() const;
  std::vector<std::uint8_t> BootImage() const;
  int BlinkCount() const;
  bool Zeroed() const;
  // Waits until at least `readers` blocking BulkIn calls are waiting for data; false when that
  // does not happen within `limit`. Lets a test abort a read it knows to be pending.
  bool WaitForBlockedReads(int readers, std::chrono::milliseconds limit) const;

  // ---- Fault knobs ----
  // Unplugs the device: it leaves the bus and every transfer fails from then on.
  void Unplug();
  // Halts the streaming endpoint: bulk reads stall until the host clears the halt.
  void StallDataEndpoint();
  // The next `replies` commands (forever when negative) are declined with this reply status.
  void ForceReplyStatus(std::uint8_t status, int replies = -1);
  // The smart plate answers every status query with "busy".
  void SetPlateStaysBusy(bool staysBusy);
  // Status queries answered "busy" after each calibration block (default 2).
  void SetPlateBusyQueries(int queries);
  // The plate stores every calibration block it receives, in arrival order, even while busy.
  void SetPlateStoresEveryBlock(bool stores);
  // The plate rejects the version of any calibration file.
  void SetRejectCalibrationVersion(bool reject);
  // While held, a reply request waits (like a slow amplifier) until the replies are released, the
  // device is unplugged, or ten seconds pass. For in-process tests: it blocks the caller.
  void SetRepliesHeld(bool held);
  // One byte of the next calibration stream arrives with a bit flipped.
  void CorruptCalibrationByte(std::int32_t offset);
  // The next `packets` streaming packets are lost: the counter jumps over them.
  void DropPackets(int packets);
  // The next `packets` streaming packets arrive cut short, with only `bytes` of their bytes; the
  // counter moves on as if they had arrived whole.
  void ShortenPackets(int packets, std::size_t bytes);
  // The first packet of every run leaves this much later than due (later ones catch up).
  void SetFirstPacketDelay(std::chrono::milliseconds delay);
  // The auxiliary word of the samples carries this trigger level (0: no trigger).
  void SetTriggerLevel(std::int32_t level);
  void SetSignal(SignalProfile profile);

 private:
  using Lock = std::unique_lock<std::mutex>;

  TransferResult VendorOut(const SetupPacket& setup, const std::uint8_t* data,
                           std::size_t length, SteadyTime now);
  TransferResult StandardIn(const SetupPacket& setup, std::uint8_t* data, std::size_t capacity);
  BulkPoll PollLocked(std::uint8_t endpoint, std::uint8_t* buffer, std::size_t length,
                      SteadyTime now);
  void FillPacket(std::int64_t packet, std::uint8_t* buffer) const;
  PlateReading ReadingAt(SteadyTime now) const;
  void StartStreaming(std::int32_t startFrame, SteadyTime now);
  void Log(WireRecord record);

  const AmplifierDescription description_;
  const SteadyTime busEpoch_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // streaming state, aborts, halts and unplug
  mutable std::condition_variable blockedReadsChanged_;  // for WaitForBlockedReads only
  int blockedReads_ = 0;
  SignalGenerator signal_;
  Firmware firmware_;
  StreamSchedule schedule_;
  sim::WireLog log_;
  std::map<std::uint8_t, std::uint64_t> aborts_;  // abort generation per endpoint
  bool present_ = true;
  bool repliesHeld_ = false;
  bool dataHalted_ = false;
  std::uint8_t alternateSetting_ = 0;
  std::int64_t packetsSent_ = 0;
  std::int64_t dropsPending_ = 0;
  int shortPending_ = 0;
  std::size_t shortBytes_ = 0;
  std::chrono::milliseconds firstPacketDelay_{0};
  std::int32_t triggerLevel_ = 0;
};

}  // namespace torva::sim
