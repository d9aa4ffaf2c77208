#pragma once
// CThreadManager: the driver library's control thread. One exists while the library is
// initialised; it owns the parts that hold what the library knows about the connected amplifiers
// and runs the steps that need several of them.
//
// The parts it owns, each with its own contract in its header:
// - DeviceTable: the device threads, one per slot;
// - SlotRecordTable: each slot's records (runtime block, parameters, endpoint table);
// - SlotOrder: the platform order and each slot's position;
// - FrameAssembler (with its FrameRing): the frames assembled from the devices' packets;
// - OrderingRun: a platform-ordering run by loading the plates;
// - BringUpTracker: how far a bring-up or parameter refresh has come;
// - SetupState: the saved setup, the acquisition settings and the smart-plate check list;
// - StopTracker: the acknowledgements of the latest broadcast stop;
// - DataReadyNotifier: where completed frames are announced;
// - ErrorRecord: the last error reported to the caller.
//
// Threads:
// - The caller's thread runs the exported functions, which call this object's operations or the
//   parts' own (through the accessors below), and the bring-up inside fmDLLInit.
// - The control thread runs the message handlers (bring-up after device threads ended, packets,
//   replies, a lost device, the setup check, an ordering run's completion, shutdown) and the idle
//   step that watches a bring-up or refresh.
// - Device threads only post messages to it.
//
// Locks, in the order they may be taken: the assembly lock (library_locks.h), guarding the
// frame assembler, the ordering run and the slot order; inside it the frame-count lock, or a
// slot's record lock (the packet handler's load test, the start's buffer sizing); inside a slot's
// record lock a device's own lock (a command copies the records to the device). The setup
// state's lock is taken with no other lock held. Flags and counts shared between threads are
// atomics: a reader may see a value one step old and polls again.
//
// Life cycle: fmDLLInit creates it suspended at time-critical priority, resumes it and runs the
// bring-up; fmDLLShutDown calls RequestShutdown, after which the shutdown handler frees the
// buffers, waits for the device threads to end and quits; the object then deletes itself.
//
// Its members are defined in thread_manager.cpp (life cycle, bring-up, messages, shutdown),
// thread_manager_acquisition.cpp (commands, acquisition, packets, platform order) and
// thread_manager_setup.cpp (replies, setup check and save, refresh, smart plates).

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "driver/control/bring_up_tracker.h"
#include "driver/control/control_limits.h"
#include "driver/control/data_ready_notifier.h"
#include "driver/control/device_table.h"
#include "driver/control/error_record.h"
#include "driver/control/frame_assembler.h"
#include "driver/control/ordering_run.h"
#include "driver/control/setup_state.h"
#include "driver/control/slot_order.h"
#include "driver/control/slot_records.h"
#include "driver/control/stop_tracker.h"
#include "driver/device/command_set.h"
#include "driver/device/amplifier_parameter_block.h"
#include "platform/worker_thread.h"

namespace torva {

class CUSBDevice;

class CThreadManager : public platform::WorkerThread, private PacketSource {
 public:
  // The pause taken on every fourth idle step while the bring-up waits for parameter replies; a
  // posted message ends it at once.
  static constexpr std::chrono::milliseconds kIdlePause{2};
  // How long the control thread waits for its device threads before it ends anyway: longer than
  // a USB request may take (10 s), so that only a thread that is truly stuck is left behind.
  static constexpr std::chrono::milliseconds kDeviceEndLimit{15000};

  CThreadManager();
  ~CThreadManager() override;

  // --- The parts the exported functions use directly (see their contracts) ---------------------
  SlotRecordTable& Records() { return records_; }
  const SlotRecordTable& Records() const { return records_; }
  SetupState& Setup() { return setup_; }
  const SetupState& Setup() const { return setup_; }
  BringUpTracker& Progress() { return progress_; }
  const BringUpTracker& Progress() const { return progress_; }
  DataReadyNotifier& Notifier() { return notifier_; }
  const DataReadyNotifier& Notifier() const { return notifier_; }
  const StopTracker& Stops() const { return stops_; }
  ErrorRecord& Errors() { return errors_; }
  // The frames assembled; the caller's thread takes frames from its ring and reads its counts.
  FrameAssembler& Assembler() { return assembler_; }

  // --- Life cycle ----------------------------------------------------------------------------------
  // Bring-up: finds the amplifiers, creates one device thread per amplifier and starts reading
  // every amplifier's parameters (caller's thread with kBringUpDirect, or the control thread).
  void BringUp(platform::WParam wParam);
  // Caller's thread: stops acquisition, then tells the device threads and this thread to end.
  void RequestShutdown();

  // --- Amplifiers and commands -----------------------------------------------------------------
  int DeviceCount() const { return deviceCount_.load(); }
  // The device thread of a slot, or null.
  CUSBDevice* Device(int slot) const { return devices_.Device(slot); }
  // Sends a command to the amplifier of a slot: copies the slot's records over the device's
  // copies, then queues the command. Start is queued only when the amplifier is not streaming;
  // Stop only when it is; Zero while streaming is sent at once; any other command stops a
  // streaming amplifier first. False when the slot has no device or its queue was full.
  bool IssueCommand(int slot, CommandCode code);
  // Sends a command to every amplifier in platform order.
  void Broadcast(CommandCode code);
  // Stores a setting in every amplifier's parameter block and sends the command that carries it.
  void BroadcastSetting(std::int32_t AmplifierParameterBlock::*field, std::int32_t value,
                        CommandCode code);
  void SetPacketSizeOfAll(std::int32_t packetSize);
  int SelectedSlot() const { return selectedSlot_.load(); }
  // Selects order[position] when 0 <= position < N; otherwise nothing changes.
  void SelectPosition(int position);
  // Position of the selected slot in the platform order (first match), 0 if absent.
  int SelectedPosition() const;

  // --- Acquisition ---------------------------------------------------------------------------------
  // Starts every amplifier whose last reply said "done", all at one USB frame.
  void StartAcquisition();
  // Stops every amplifier (in platform order) and clears their streaming flags.
  void StopAcquisition();
  void SetDataFormat(int format) { dataFormat_ = format; }
  int DataFormat() const { return dataFormat_.load(); }
  bool IsStopped() const { return stopped_.load() != 0; }
  // 1 once every amplifier has acknowledged the latest broadcast stop, 0 from the next start or
  // stop until then.
  int StopCommandFlag() const;

  // --- Platform order ----------------------------------------------------------------------------
  // Slot at a position of the platform order, or -1.
  int SlotAt(int position) const;
  // A copy of the platform order (position to slot; DeviceCount() entries are valid): the control
  // thread may change the order at any time, so callers on other threads work on a copy.
  std::array<int, kMaxAmplifiers> PlatformOrder() const;
  // Reorders by positions (new order[i] = order[positions[i]]); a list that is not a permutation
  // of 0..N-1 changes nothing.
  void SetPlatformOrder(const int* positions);
  int CopyPlatformOrder(int* out) const;
  void SetOrderingThreshold(float threshold);
  void StartOrdering();
  void CancelOrdering();
  int OrderingComplete() const { return ordering_.Complete() ? 1 : 0; }

  // --- Saved setup, replies, refresh and smart plates --------------------------------------------
  // Applies one reply entry (code in byte 1, payload from byte 16) to the slot's records.
  void ApplyReply(int slot, const std::uint8_t* entry);
  // Writes the setup file from the amplifiers in platform order; false (and the error record
  // filled) when it cannot be written.
  bool SaveConfiguration();
  // Re-reads every amplifier's parameters without a new setup check.
  void Refresh();
  // Starts a calibration download to the selected plate; the return codes of
  // fmVantorDownloadCalFile.
  int StartCalibrationDownload();

 protected:
  bool InitInstance() override;
  bool OnIdle(long count) override;
  int ExitInstance() override;

 private:
  void OnDeviceThreadEnded(platform::WParam wParam, platform::LParam lParam);
  void OnShutdown(platform::WParam wParam, platform::LParam lParam);
  void OnReplyArrived(platform::WParam wParam, platform::LParam lParam);
  void OnDeviceLost(platform::WParam wParam, platform::LParam lParam);
  void OnPacketArrived(platform::WParam wParam, platform::LParam lParam);
  void OnOrderingComplete(platform::WParam wParam, platform::LParam lParam);
  void OnRunSetupCheck(platform::WParam wParam, platform::LParam lParam);

  // Compares the amplifiers with the saved setup, adopts its order and records the status.
  void RunSetupCheck();
  // Checks every smart plate once after a parameter read and starts the downloads they need.
  void RunSmartPlateCheck();
  // PacketSource: a device's data-ring slot.
  const std::uint8_t* Packet(int slot, int ringIndex, int& packetSize) const override;
  // Sizes the buffers and clears the assembly state for a start (first amplifier of a start).
  void PrepareStart(int slot, bool firstOfStart, std::int32_t startFrame);
  // Ordering: tests whether the plate of a slot carries its threshold (packet handler).
  void RunLoadTest(int slot, int position, platform::WParam ringIndex);
  // Creates the device thread of a slot and opens the ordinal-th amplifier on the bus; false
  // when it could not be opened. Opening ordinal 0 also reports how many amplifiers were found.
  bool CreateDevice(int slot, int ordinal, int& found);
  // Queues a parameter read (command ReadAllParameters) on every slot in platform order.
  void StartParameterRefresh();
  // The idle step sleeps while nothing is polled; a bring-up or refresh, which may start on the
  // caller's thread, wakes it with this.
  void WakeIdleStep();
  // Bring-up completion test, run by the idle step while waiting for parameter replies.
  bool BringUpComplete();

  DeviceTable devices_;
  std::atomic<int> deviceCount_{0};
  std::atomic<int> selectedSlot_{0};
  SlotRecordTable records_;
  SlotOrder order_;  // guarded by the assembly lock
  FrameAssembler assembler_;
  OrderingRun ordering_;
  BringUpTracker progress_;
  SetupState setup_;
  StopTracker stops_;
  DataReadyNotifier notifier_;
  ErrorRecord errors_;

  std::atomic<int> dataFormat_{1};
  std::atomic<int> stopped_{1};
  // Whether completed frames are handed to the caller (not during an ordering run).
  std::atomic<int> deliveryEnabled_{1};
  // Set when an ordering run was cancelled: a newly announced packet is not taken at once, until
  // the next start or ordering run clears it.
  std::atomic<int> holdFirstPacket_{0};
  // Set at shutdown: the packet handler ignores packets from then on.
  std::atomic<bool> suspended_{false};
  // Idle steps since the last pause (0..3).
  int idleCounter_ = 0;
};

}  // namespace torva
