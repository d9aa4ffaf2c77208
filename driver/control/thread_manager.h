#pragma once
// CThreadManager: the driver library's control thread. One exists while the library is
// initialised; it owns everything the library knows about the connected amplifiers.
//
// Threads and ownership:
// - The caller's thread runs the exported functions, which read and write this object's fields
//   directly, and the bring-up inside fmDLLInit.
// - The control thread runs the message handlers (bring-up after device threads ended, replies,
//   shutdown, ...) and the idle step.
// - Device threads only post messages to it.
// Fields that both the caller and the control thread touch are atomics (flags, counts, states):
// a reader may see a value one step old and polls again. The records of a slot are guarded by
// that slot's lock, taken for each whole copy into or out of them. The assembly lock and the
// frame-count lock (library_locks.h) guard the acquisition buffers.
//
// Life cycle: fmDLLInit creates it suspended at time-critical priority, resumes it and runs the
// bring-up; fmDLLShutDown posts the shutdown message, after which the handler frees the buffers,
// waits for the device threads to end and quits; the object then deletes itself.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/control/acquisition_settings.h"
#include "driver/control/control_limits.h"
#include "driver/control/error_record.h"
#include "driver/control/frame_assembler.h"
#include "driver/control/ordering_run.h"
#include "driver/control/setup_file.h"
#include "driver/device/command_set.h"
#include "driver/device/amplifier_parameter_block.h"
#include "driver/device/device_runtime_block.h"
#include "driver/device/endpoint_table.h"
#include "platform/window_target.h"
#include "platform/worker_thread.h"

namespace torva {

class CUSBDevice;

// Progress of the bring-up as fmDLLIsDeviceInitComplete reports it.
enum DeviceInitState : int {
  kDeviceInitInProgress = 0,
  kDeviceInitNoAmplifiers = 1,
  kDeviceInitComplete = 2,
};

// Whether the idle step is waiting for the parameter replies of a bring-up or refresh.
enum PollState : int {
  kPollIdle = 1,
  kPollWaitingForReplies = 2,
};

// Where data-ready notifications go.
enum class NotifyTarget : int { kNone = 0, kThread = 1, kWindow = 2 };

// The three records the control thread keeps per slot, and the lock that guards them.
struct SlotRecords {
  std::unique_ptr<DeviceRuntimeBlock> runtime;
  std::unique_ptr<AmplifierParameterBlock> parameters;
  std::unique_ptr<EndpointTable> endpoints;
  mutable std::mutex lock;

  // Allocates the records where absent and zeroes them.
  void AllocateZeroed();
  void Free();
};

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

  // --- Bring-up (caller's thread inside fmDLLInit with kBringUpDirect, or the control thread) --
  void BringUp(platform::WParam wParam);

  // --- Reply handling: applies one reply entry (code in byte 1, payload from byte 16) ---------
  void ApplyReply(int slot, const std::uint8_t* entry);

  // --- Shutdown (caller's thread): stop, pause, tell device threads and this thread to end -----
  void RequestShutdown();

  // --- Acquisition ------------------------------------------------------------------------------
  // Starts every amplifier whose last reply said "done", all at one USB frame.
  void StartAcquisition();
  // Stops every amplifier (in platform order) and clears their streaming flags.
  void StopAcquisition();
  // Sends a command to every amplifier in platform order.
  void Broadcast(CommandCode code);
  // Stores a setting in every amplifier's parameter block and sends the command that carries it.
  void BroadcastSetting(std::int32_t AmplifierParameterBlock::*field, std::int32_t value,
                        CommandCode code);
  void SetDataFormat(int format) { dataFormat_ = format; }
  int DataFormat() const { return dataFormat_.load(); }
  AcquisitionSettings& MutableSettings() { return settings_; }
  FrameAssembler& Assembler() { return assembler_; }
  // 1 once every amplifier has acknowledged the latest broadcast stop, 0 from the next start or
  // stop until then.
  int StopCommandFlag() const;
  bool IsStopped() const { return stopped_.load() != 0; }

  // --- Platform order ---------------------------------------------------------------------------
  // Reorders by positions (new order[i] = order[positions[i]]); a list that is not a permutation
  // of 0..N-1 changes nothing.
  void SetPlatformOrder(const int* positions);
  int CopyPlatformOrder(int* out) const;
  void SetOrderingThreshold(float threshold);
  void StartOrdering();
  void CancelOrdering();
  int OrderingComplete() const { return ordering_.Complete() ? 1 : 0; }

  // --- Saved setup, refresh and smart plates ----------------------------------------------------
  // Writes the setup file from the amplifiers in platform order; false (and the error record
  // filled) when it cannot be written.
  bool SaveConfiguration();
  // Re-reads every amplifier's parameters without a new setup check.
  void Refresh();
  int RefreshComplete() const { return refreshComplete_.load(); }
  const std::string& ConfigurationDirectoryPath() const { return configurationDirectory_; }
  // Slots listed by the last smart-plate check; returns how many.
  int CopyCheckList(int* out) const;
  // Starts a calibration download to the selected plate; the return codes of fmVantorDownloadCalFile.
  int StartCalibrationDownload();

  // --- State read and written by the exported functions ---------------------------------------
  int DeviceCount() const { return deviceCount_.load(); }
  int DeviceInitState() const { return deviceInitState_.load(); }
  void SetDeviceInitState(int state) { deviceInitState_ = state; }
  int SetupStatus() const { return setupStatus_.load(); }
  int SelectedSlot() const { return selectedSlot_.load(); }
  // Selects order[position] when 0 <= position < N; otherwise nothing changes.
  void SelectPosition(int position);
  // Position of the selected slot: the first position whose order entry equals it, else 0.
  int SelectedPosition() const;
  // Position of a slot in the platform order (first match), 0 if absent.
  int PositionOfSlot(int slot) const;
  void SetPacketSizeOfAll(std::int32_t packetSize);
  std::int32_t PacketSize(int slot) const;

  void SetDataReadyFlag(int flag) { dataReadyFlag_ = flag != 0 ? 1 : 0; }
  int DataReadyFlag() const { return dataReadyFlag_.load(); }
  void NotifyThread(platform::ThreadId thread);
  void NotifyWindow(platform::WindowHandle window);
  NotifyTarget Target() const { return static_cast<NotifyTarget>(targetKind_.load()); }

  ErrorRecord& Errors() { return errors_; }
  const AcquisitionSettings& Settings() const { return settings_; }

  // Copies of a slot's records taken under the slot's lock (tests and getters).
  bool CopyParameters(int slot, AmplifierParameterBlock& out) const;
  bool CopyRuntime(int slot, DeviceRuntimeBlock& out) const;
  // Runs `edit(parameters, runtime)` on a slot's master records under the slot's lock; false
  // when the slot has no records.
  template <typename Edit>
  bool EditRecords(int slot, Edit&& edit) {
    if (slot < 0 || slot >= kMaxAmplifiers) return false;
    SlotRecords& records = slots_[slot];
    std::lock_guard<std::mutex> guard(records.lock);
    if (!records.parameters || !records.runtime) return false;
    edit(*records.parameters, *records.runtime);
    return true;
  }

  // Sends a command to the amplifier of a slot: copies the slot's master records over the
  // device's copies, then queues the command. Start is queued only when the amplifier is not
  // streaming; Stop only when it is; Zero while streaming is sent at once; any other command
  // stops a streaming amplifier first. False when the slot has no device or its queue was full.
  bool IssueCommand(int slot, CommandCode code);
  // The device thread of a slot, or null.
  CUSBDevice* Device(int slot) const {
    return slot >= 0 && slot < kMaxAmplifiers ? devices_[slot] : nullptr;
  }
  // Slot at a position of the platform order, or -1.
  int SlotAt(int position) const;
  // The platform order as it stands (position to slot; DeviceCount() entries are valid). The
  // control thread may change the order at any time (setup check, ordering run): callers on other
  // threads work on this copy.
  std::array<int, kMaxAmplifiers> PlatformOrder() const;

  int ParameterReplyCount() const { return parameterReplies_.load(); }
  int StopAcknowledgements() const { return stopAcknowledgements_.load(); }

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

  // Locates the configuration directory and reads the saved setup (construction).
  void LoadSavedSetup();
  // Compares the amplifiers with the saved setup, adopts its order and records the status.
  void RunSetupCheck();
  // Checks every smart plate once after a refresh and starts the downloads they need; returns
  // how many were started.
  int RunSmartPlateCheck();

  // PacketSource: a device's data-ring slot.
  const std::uint8_t* Packet(int slot, int ringIndex, int& packetSize) const override;
  // Sizes the buffers and clears the assembly state for a start (first amplifier of a start).
  void PrepareStart(int slot, bool firstOfStart, std::int32_t startFrame);
  // Ordering: tests whether the plate of a slot carries its threshold (packet handler).
  void RunLoadTest(int slot, int position, platform::WParam ringIndex);
  // Rebuilds the slot-to-position table after the order changed (under the assembly lock).
  void UpdatePositions();
  void NotifyFrame(int ringIndex);

  // Creates the device thread of a slot and opens the ordinal-th amplifier on the bus; false
  // when it could not be opened. Opening ordinal 0 also reports how many amplifiers were found.
  bool CreateDevice(int slot, int ordinal, int& found);
  // Queues a parameter refresh (command ReadAllParameters) on every slot in platform order.
  void StartParameterRefresh();
  // The idle step sleeps while nothing is polled; a bring-up or refresh, which may start on the
  // caller's thread, wakes it with this.
  void WakeIdleStep();
  // Bring-up completion test, run by the idle step while waiting for parameter replies.
  bool BringUpComplete();
  // Waits (bounded) for every device thread to end.
  void WaitForDeviceThreads(std::chrono::milliseconds limit);
  void FreeAll();
  // Deletes the device objects whose threads have ended and that the device table no longer names.
  void ReleaseEndedDevices();
  template <typename Record>
  bool CopyRecord(int slot, std::unique_ptr<Record> SlotRecords::*record, Record& out) const;

  // Device table.
  std::array<CUSBDevice*, kMaxAmplifiers> devices_{};
  std::array<std::shared_ptr<platform::ThreadHandle>, kMaxAmplifiers> deviceHandles_{};
  std::array<platform::ThreadId, kMaxAmplifiers> deviceThreads_{};
  // Device threads told to end during a bring-up; shutdown waits for them too.
  std::vector<std::shared_ptr<platform::ThreadHandle>> retiredHandles_;
  // Every device object this control thread created. They do not delete themselves: messages a
  // device posted before its thread ended may still be waiting here and refer to its rings, so
  // an object is deleted only once its thread has ended and no handler can reach it any more
  // (at shutdown, at a new bring-up, or with this object).
  std::vector<std::unique_ptr<CUSBDevice>> ownedDevices_;
  std::atomic<int> deviceCount_{0};
  std::atomic<int> selectedSlot_{0};
  std::array<SlotRecords, kMaxAmplifiers> slots_;

  // Platform order (position to slot) and the position of every slot; N entries are valid. Guarded by the assembly lock: every change of
  // the order and every read of it (PlatformOrder, SlotAt, the packet handler) takes it.
  std::array<int, kMaxAmplifiers> order_{};
  std::array<int, kMaxAmplifiers> positionOfSlot_{};

  // Frame assembly and the frame ring.
  FrameAssembler assembler_;
  // Stop acknowledgements since the latest broadcast start or stop, one bit per slot.
  std::atomic<std::uint32_t> stopAcknowledged_{0};
  std::atomic<bool> lastBroadcastWasStop_{false};

  // Platform ordering (under the assembly lock).
  OrderingRun ordering_;

  // Bring-up state.
  std::atomic<int> exitedThreads_{0};
  std::atomic<int> pollState_{kPollIdle};
  std::atomic<int> deviceInitState_{kDeviceInitInProgress};
  std::atomic<int> parameterReplies_{0};
  // Slots whose parameters arrived since the refresh started, one bit per slot.
  std::atomic<std::uint32_t> parametersAnswered_{0};
  std::atomic<int> stopAcknowledgements_{0};
  std::atomic<int> smartPlateCheckPending_{0};
  std::atomic<int> refreshRequested_{0};
  std::atomic<int> holdFirstPacket_{0};

  // Saved setup and setup check.
  std::atomic<int> setupStatus_{0};
  std::atomic<int> configurationFound_{0};
  std::string configurationDirectory_;
  AcquisitionSettings settings_;
  // The amplifiers of the saved setup; guarded by setupMutex_ (the setup check runs on the
  // control thread, a save on the caller's).
  SavedSetup savedSetup_;
  mutable std::mutex setupMutex_;
  std::atomic<int> refreshComplete_{0};
  // Result list of the last smart-plate check.
  std::array<int, kMaxAmplifiers> checkList_{};
  std::atomic<int> checkListCount_{0};

  ErrorRecord errors_;

  // Data-ready notification.
  std::atomic<int> dataReadyFlag_{0};
  std::atomic<int> targetKind_{static_cast<int>(NotifyTarget::kNone)};
  std::atomic<platform::ThreadId> targetThread_{0};
  std::atomic<platform::WindowHandle> targetWindow_{nullptr};
  std::atomic<int> deliveryEnabled_{1};
  std::atomic<int> dataFormat_{1};
  std::atomic<int> stopped_{1};

  // Set at shutdown: the packet handler ignores packets from then on.
  std::atomic<bool> suspended_{false};
  // Idle steps since the last pause (0..3).
  int idleCounter_ = 0;
};

}  // namespace torva
