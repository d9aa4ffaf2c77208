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
// Parts, each owned here and guarded as its own header says: UsbLink (the opened amplifier and
// its endpoints), CommandSender (the command queue, the calibration download and the record
// copies packets are built from), ReplyChannel (the reply buffer and ring) and DataRing (the
// streaming packets and the lost-packet count). This class runs the service passes that make the
// transfers between them.
//
// Life cycle: created suspended by the control thread, which opens the amplifier and copies the
// endpoint table before resuming it. Ends on message 1025 (the control thread then aborts what is
// in flight, so a silent amplifier cannot hold the thread).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/calibration_protocol.h"
#include "driver/device/command_packet.h"
#include "driver/device/command_sender.h"
#include "driver/device/command_set.h"
#include "driver/device/data_ring.h"
#include "driver/device/device_runtime_block.h"
#include "driver/device/download_status.h"
#include "driver/device/endpoint_table.h"
#include "driver/device/reply_channel.h"
#include "driver/device/usb_link.h"
#include "platform/sync.h"
#include "platform/worker_thread.h"

namespace torva {

class CUSBDevice : public platform::WorkerThread {
 public:
  static constexpr int kDataRingSlots = DataRing::kSlots;
  static constexpr int kReplyRingSlots = ReplyChannel::kSlots;
  static constexpr std::size_t kReplyBufferBytes = ReplyChannel::kEntryBytes;
  // Endpoint-table indexes the control thread binds: the data endpoint (no time-out), a second
  // endpoint with a 2000 ms time-out, and a third left as it is.
  static constexpr int kDataEndpointIndex = 2;
  static constexpr int kSecondEndpointIndex = 3;
  static constexpr int kThirdEndpointIndex = 1;

  // A streaming packet as the control thread reads it after message 1130.
  using DataSlotView = DataRing::SlotView;
  using OpenOutcome = UsbLink::OpenOutcome;

  CUSBDevice();
  ~CUSBDevice() override;

  // --- Set-up by the control thread while the device thread is still suspended ---------------
  void SetIdentity(int deviceNumber, platform::ThreadId controlThread);
  void SetExitNotice(bool requested);
  void ClearRuntimeLastWord();
  // Opens the ordinal-th amplifier on the bus (vendor 0x1F6D, product 300 or 200) and takes its
  // interface. kInUse: another program holds it, and it is left alone (MatchedSerial names it).
  OpenOutcome OpenAmplifier(int ordinal) { return link_.Open(ordinal); }
  // The serial number of the amplifier the last OpenAmplifier matched ("" when none).
  const std::string& MatchedSerial() const { return link_.MatchedSerial(); }
  // Amplifiers counted on the bus by OpenAmplifier(0).
  int AmplifiersFound() const { return link_.AmplifiersFound(); }
  int MatchedProductId() const { return link_.MatchedProductId(); }
  bool IsOpen() const { return link_.IsOpen(); }
  bool BuildEndpointTable() { return link_.BuildEndpointTable(); }
  bool CopyEndpointTable(EndpointTable& out) const { return link_.CopyEndpointTable(out); }
  // Binds the data endpoint and the two further endpoints by their endpoint-table index.
  void SelectEndpoints(int dataIndex, int secondIndex, int thirdIndex) {
    link_.SelectEndpoints(dataIndex, secondIndex, thirdIndex);
  }

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
  void AbortTransfers() { link_.AbortTransfers(); }
  std::uint8_t LastReplyStatus() const;
  int QueuedCommands() const;
  // Waits until every queued command has been sent and settled; false when the limit passed.
  bool WaitUntilQueueEmpty(std::chrono::milliseconds limit) {
    return commands_.WaitUntilEmpty(limit);
  }
  int RefusedCommands() const;
  DataSlotView DataSlot(int slot) const { return ring_.Slot(slot); }
  // When the bulk read that filled a data-ring slot returned (for latency measurements).
  std::chrono::steady_clock::time_point ReceivedAt(int slot) const {
    return ring_.ReceivedAt(slot);
  }
  // Copies a reply-ring entry (code in byte 1, status in byte 5, payload from byte 16) into
  // `out`, which holds kReplyBufferBytes; false for a slot outside the ring.
  bool CopyReplySlot(int slot, std::uint8_t* out) const { return replies_.CopySlot(slot, out); }
  std::optional<std::uint32_t> CurrentFrameNumber() { return link_.CurrentFrameNumber(); }
  bool ResetUsbDevice() { return link_.ResetUsbDevice(); }
  int LostPackets() const { return ring_.LostPackets(); }

  // --- Smart-plate calibration download ---------------------------------------------------------
  // Hands a calibration file to the device thread, which loads it and streams it to the plate.
  void RequestCalibrationDownload(const std::string& path);
  int DownloadStatus() const { return commands_.DownloadStatus(); }
  void SetDownloadStatus(int status) { commands_.SetDownloadStatus(status); }
  // The last status block the plate sent during a download.
  PlateStatusBlock LastPlateStatus() const;

 protected:
  bool OnIdle(long count) override;
  int ExitInstance() override;

 private:
  void OnQuit(platform::WParam wParam, platform::LParam lParam);
  // Reads one streaming packet into the next data-ring slot (without the device lock).
  void ReadStreamingPacket(usb::CCyUSBEndPoint& endpoint);
  // Reads the reply the last command asked for, if one is due; the transfer runs without the lock.
  void ServiceReply();
  // Stores a reply read into the reply ring and acts on it (under the lock).
  void AcceptReply(const std::uint8_t* reply, std::size_t length);
  // The reply read failed: the command it belonged to is settled and the control thread told.
  void RejectReply();
  // Sends the urgent command, else the queue's next one; the transfer runs without the lock.
  void ServiceCommand();
  // After a transfer on `endpoint` failed: when the amplifier has left the bus, stops using it
  // (no more reads or commands; the thread waits on its queue) and tells the control thread once.
  void CheckDeviceLost(const usb::CCyUSBEndPoint& endpoint);
  // Builds the packet of a command from the device's records (under the lock) and applies what
  // sending it changes; 0 when the command puts nothing on the wire.
  std::size_t PrepareCommand(CommandCode code, const CommandInfo& info, CommandPacketBuffer& packet);
  // Ends the thread's sleep on its queue (it sleeps whenever it has nothing to do).
  void Wake();

  // Identity.
  int deviceNumber_ = 0;
  platform::ThreadId controlThread_ = 0;
  std::atomic<bool> exitNoticeRequested_{false};
  bool exitNotice_ = false;
  std::atomic<bool> shuttingDown_{false};
  mutable platform::CriticalSection lock_;

  // Streaming. A run begins when its Start is sent (streamingRun_ takes the next run number) and
  // ends when reading is switched off (0); the data ring is prepared for the run once.
  std::atomic<std::uint32_t> streamingRun_{0};
  std::uint32_t runsStarted_ = 0;  // guarded by lock_

  UsbLink link_{lock_};
  CommandSender commands_;  // guarded by lock_
  ReplyChannel replies_{lock_};
  DataRing ring_;
};

}  // namespace torva
