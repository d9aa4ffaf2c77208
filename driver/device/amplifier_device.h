#pragma once
// CUSBDevice: the worker thread that owns the USB link to one amplifier.
//
// It sends the commands queued for it, one at a time, as vendor control requests and reads each
// command's reply; while acquisition runs it reads the streaming endpoint packet by packet into
// its data ring; and it drives a smart plate's calibration download from the plate's replies.
// Packets and replies are handed to the control thread by message (1130, 1133) and ring slot.
//
// Threads and locking:
// - The device thread runs the service passes (OnIdle) and the quit handler; it alone makes the
//   amplifier's transfers (commands, replies, streaming reads, pipe resets after a failure).
// - The control side (exported functions on the caller's thread, and the control thread) calls
//   the public members. Each takes the device lock briefly to hand over records, commands and
//   requests, or to copy a reply out. The device lock is never held across a USB transfer, so no
//   caller ever waits for the amplifier, however slow it answers.
// - Aborts (AbortAndResetDataEndpoint, AbortTransfers), the USB frame number and the USB device
//   reset run on the caller's thread without the lock, on a shared reference to the opened device
//   that keeps it alive while they run.
// - Ring slots are handed over by message only: the device writes a data slot, posts its number
//   and does not write that slot again until the ring has wrapped. Reply slots are written and
//   copied out under the device lock. The data ring's storage lives as long as the object, so a
//   slot announced in an earlier run stays readable.
//
// Life cycle: created suspended by the control thread, which opens the amplifier and copies the
// endpoint table before resuming it. Ends on message 1025 (the control thread then aborts what is
// in flight, so a silent amplifier cannot hold the thread).

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/calibration_download.h"
#include "driver/device/calibration_protocol.h"
#include "driver/device/command_packet.h"
#include "driver/device/command_queue.h"
#include "driver/device/command_set.h"
#include "driver/device/download_status.h"
#include "driver/device/device_runtime_block.h"
#include "driver/device/endpoint_table.h"
#include "platform/sync.h"
#include "platform/worker_thread.h"

namespace torva {

namespace usb {
class UsbDevice;
class CCyUSBEndPoint;
class CCyControlEndPoint;
}  // namespace usb

class CUSBDevice : public platform::WorkerThread {
 public:
  static constexpr int kDataRingSlots = 625;
  static constexpr int kReplyRingSlots = 10;
  static constexpr std::size_t kReplyBufferBytes = 1320;
  // Endpoint-table indexes the control thread binds: the data endpoint (no time-out), a second
  // endpoint with a 2000 ms time-out, and a third left as it is.
  static constexpr int kDataEndpointIndex = 2;
  static constexpr int kSecondEndpointIndex = 3;
  static constexpr int kThirdEndpointIndex = 1;

  // A streaming packet as the control thread reads it after message 1130.
  struct DataSlotView {
    const std::uint8_t* data = nullptr;
    int packetSize = 0;
    int packetsReceived = 0;
  };

  CUSBDevice();
  ~CUSBDevice() override;

  // --- Set-up by the control thread while the device thread is still suspended ---------------
  void SetIdentity(int deviceNumber, platform::ThreadId controlThread);
  void SetExitNotice(bool requested);
  void ClearRuntimeLastWord();
  enum class OpenOutcome { kOpened, kNotOpened, kInUse };
  // Opens the ordinal-th amplifier on the bus (vendor 0x1F6D, product 300 or 200) and takes its
  // interface. kInUse: another program holds it, and it is left alone (MatchedSerial names it).
  OpenOutcome OpenAmplifier(int ordinal);
  // The serial number of the amplifier the last OpenAmplifier matched ("" when none).
  const std::string& MatchedSerial() const { return matchedSerial_; }
  // Amplifiers counted on the bus by OpenAmplifier(0).
  int AmplifiersFound() const { return amplifiersFound_; }
  int MatchedProductId() const { return matchedProductId_; }
  bool IsOpen() const { return open_.load(); }
  bool BuildEndpointTable();
  bool CopyEndpointTable(EndpointTable& out) const;
  // Binds the data endpoint and the two further endpoints by their endpoint-table index.
  void SelectEndpoints(int dataIndex, int secondIndex, int thirdIndex);

  // --- Control side -----------------------------------------------------------------------------
  bool LoadRuntimeBlock(const DeviceRuntimeBlock* block);
  bool LoadParameterBlock(const AmplifierParameterBlock* block);
  // Appends a command; false when the queue is full (the refusal is counted).
  bool QueueCommand(CommandCode code);
  // Sends one command ahead of the queue, on the device thread's next pass (Zero while
  // streaming); returns whether it is a confirmed command.
  bool SendCommand(CommandCode code);
  bool IsStreaming() const { return streamingRun_.load() != 0; }
  // The streaming run under way (the tag its packet announcements carry), 0 when none is.
  std::uint32_t StreamingRun() const { return streamingRun_.load(); }
  // Whether a Start is queued and not yet completed (the amplifier is about to stream).
  bool StartPending() const;
  void StopStreaming() { streamingRun_ = 0; }
  // Ends a pending bulk read; the device thread then clears the data endpoint.
  void AbortAndResetDataEndpoint();
  // The device thread is being told to end: it starts no transfer any more, and those in flight
  // are ended. Safe to call repeatedly, from any thread.
  void AbortTransfers();
  std::uint8_t LastReplyStatus() const;
  int QueuedCommands() const;
  // Waits until every queued command has been sent and settled; false when the limit passed.
  bool WaitUntilQueueEmpty(std::chrono::milliseconds limit);
  int RefusedCommands() const;
  DataSlotView DataSlot(int slot) const;
  // When the bulk read that filled a data-ring slot returned (for latency measurements).
  std::chrono::steady_clock::time_point ReceivedAt(int slot) const;
  // Copies a reply-ring entry (code in byte 1, status in byte 5, payload from byte 16) into
  // `out`, which holds kReplyBufferBytes; false for a slot outside the ring.
  bool CopyReplySlot(int slot, std::uint8_t* out) const;
  std::optional<std::uint32_t> CurrentFrameNumber();
  bool ResetUsbDevice();
  int LostPackets() const { return lostPackets_.load(); }

  // --- Smart-plate calibration download ---------------------------------------------------------
  // Hands a calibration file to the device thread, which loads it and streams it to the plate.
  void RequestCalibrationDownload(const std::string& path);
  int DownloadStatus() const { return download_.Status(); }
  void SetDownloadStatus(int status) { download_.SetStatus(status); }
  // The last status block the plate sent during a download.
  PlateStatusBlock LastPlateStatus() const;

 protected:
  bool OnIdle(long count) override;
  int ExitInstance() override;

 private:
  void OnQuit(platform::WParam wParam, platform::LParam lParam);
  void PrepareOrEndRun();
  // Reads one streaming packet into the next data-ring slot (without the device lock).
  void ReadStreamingPacket(usb::CCyUSBEndPoint& endpoint);
  // Reads the reply the last command asked for, if one is due; the transfer runs without the lock.
  void ServiceReply();
  // Stores a reply read into the reply ring and acts on it (under the lock).
  void AcceptReply(const std::uint8_t* reply, std::size_t length);
  // Sends the urgent command, else the queue's next one; the transfer runs without the lock.
  void ServiceCommand();
  // After a transfer on `endpoint` failed: when the amplifier has left the bus, stops using it
  // (no more reads or commands; the thread waits on its queue) and tells the control thread once.
  void CheckDeviceLost(const usb::CCyUSBEndPoint& endpoint);
  // Builds the packet of a command from the device's records (under the lock) and applies what
  // sending it changes; 0 when the command puts nothing on the wire.
  std::size_t PrepareCommand(CommandCode code, const CommandInfo& info, CommandPacketBuffer& packet);
  // Sets up the control endpoint for a vendor request and transfers (device thread, no lock).
  bool ControlTransfer(std::uint8_t request, bool toDevice, std::uint8_t* data, std::int32_t& length);
  // Ends the thread's sleep on its queue (it sleeps whenever it has nothing to do).
  void Wake();

  // Identity.
  int deviceNumber_ = 0;
  platform::ThreadId controlThread_ = 0;
  std::atomic<bool> exitNoticeRequested_{false};
  bool exitNotice_ = false;
  std::atomic<bool> open_{false};
  std::atomic<bool> shuttingDown_{false};
  // Set by AbortTransfers: no new transfer starts.
  std::atomic<bool> ending_{false};
  mutable platform::CriticalSection lock_;

  // Streaming. A run begins when its Start is sent (streamingRun_ takes the next run number) and
  // ends when reading is switched off (0); the data ring is prepared for the run once.
  std::atomic<std::uint32_t> streamingRun_{0};
  std::uint32_t runsStarted_ = 0;
  std::uint32_t preparedRun_ = 0;  // 0: no run prepared
  std::vector<std::uint8_t> dataRing_;  // kDataRingSlots x packet size
  // The device thread stamps a slot and the control thread reads it without a lock: a 64-bit
  // atomic must be lock-free (and so 8-byte aligned and torn by no reader) in the 32-bit library too.
  static_assert(std::atomic<std::int64_t>::is_always_lock_free);
  std::array<std::atomic<std::int64_t>, kDataRingSlots> receivedAt_{};  // steady-clock ticks
  int dataRingPacketSize_ = 0;
  int dataPosition_ = 0;
  std::atomic<int> packetsReceived_{0};
  int previousCounter_ = 1;
  std::atomic<int> lostPackets_{0};

  // Replies.
  std::vector<std::uint8_t> replyRing_;  // kReplyRingSlots x kReplyBufferBytes
  ReplyPacketBuffer replyRead_{};        // the device thread's read buffer
  int replyPosition_ = 0;
  int expectedReplyBlocks_ = 0;
  int replyReadsDone_ = 0;
  bool lastSentConfirmed_ = false;
  CommandQueue queue_;
  // A command sent ahead of the queue on the next pass (CommandQueue::kEmpty: none).
  int urgentCode_ = CommandQueue::kEmpty;
  // The data endpoint was aborted by the control side and needs its halt cleared.
  bool dataResetPending_ = false;
  // The first packet of a run has no predecessor to be compared with.
  bool firstPacketOfRun_ = true;
  // Set while the command queue is empty.
  platform::Event queueEmpty_{platform::Event::Reset::kManual, true};

  // Calibration download: guarded by the device lock, except its status.
  CalibrationDownload download_;

  // USB link.
  // Shared so that an abort or reset on the caller's thread keeps it alive while it runs.
  std::shared_ptr<usb::UsbDevice> usb_;
  usb::CCyControlEndPoint* control_ = nullptr;
  usb::CCyUSBEndPoint* dataEndpoint_ = nullptr;
  usb::CCyUSBEndPoint* secondEndpoint_ = nullptr;
  usb::CCyUSBEndPoint* thirdEndpoint_ = nullptr;
  int amplifiersFound_ = 0;
  int matchedProductId_ = 0;
  std::string matchedSerial_;

  // The device's own copies of the records.
  DeviceRuntimeBlock runtime_{};
  AmplifierParameterBlock parameters_{};
  EndpointTable endpoints_{};
};

}  // namespace torva
