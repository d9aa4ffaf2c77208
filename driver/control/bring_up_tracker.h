#pragma once
// BringUpTracker: how far a bring-up or a parameter refresh has come. A bring-up (or refresh)
// asks every amplifier for its parameters; it is complete once every amplifier has answered and
// every smart plate's calibration download has ended. A bring-up then runs the setup check before
// it is reported complete; a refresh is complete at once.
//
// Threads: every field is atomic. The bring-up and refresh start on the caller's thread
// (fmDLLInit, fmDLLRefresh) or the control thread; replies are counted and completion is decided
// on the control thread; the exported functions read the states from the caller's thread, which
// may see a value one step old and polls again.

#include <atomic>
#include <cstdint>

namespace torva {

// Progress of the bring-up as fmDLLIsDeviceInitComplete reports it.
enum DeviceInitState : int {
  kDeviceInitInProgress = 0,
  kDeviceInitNoAmplifiers = 1,
  kDeviceInitComplete = 2,
};

class BringUpTracker {
 public:
  // A device thread of the previous bring-up ended: true when a new bring-up should run now,
  // that is when every one of `count` threads has ended or the bring-up was asked for directly.
  bool ThreadEnded(int count, bool direct) { return ++exitedThreads_ == count || direct; }
  void ClearEndedThreads() { exitedThreads_ = 0; }

  // A refresh (rather than a bring-up) is about to read the parameters.
  void BeginRefresh();
  // Every amplifier has been asked for its parameters: wait for their answers.
  void BeginReading();
  // Waits without asking anew (a bring-up that found no amplifier, which the idle step reports).
  void StartWaiting() { waiting_ = true; }
  // Nothing to wait for any more (a bring-up just starting).
  void StopWaiting() { waiting_ = false; }
  bool Waiting() const { return waiting_.load(); }

  // An amplifier's parameters arrived.
  void ParametersArrived(int slot);
  // Whether each of slots 0..count-1 has answered since the reading began: counting replies is
  // not enough, since one amplifier answers a refresh twice while another may not have answered.
  bool EveryAmplifierAnswered(int count) const;
  // True once per reading: the smart-plate check is due once every amplifier has answered.
  bool TakeSmartPlateCheck() { return smartPlateCheckPending_.exchange(false); }

  // The reading is complete: stops waiting and reports whether it was a refresh, which is then
  // reported complete; a bring-up is reported complete by its owner after the setup check.
  bool FinishReading();

  int InitState() const { return initState_.load(); }
  void SetInitState(int state) { initState_ = state; }
  int RefreshComplete() const { return refreshComplete_.load() ? 1 : 0; }
  int ParameterReplies() const { return parameterReplies_.load(); }

 private:
  std::atomic<int> exitedThreads_{0};
  std::atomic<bool> waiting_{false};
  std::atomic<int> initState_{kDeviceInitInProgress};
  std::atomic<int> parameterReplies_{0};
  // Slots whose parameters arrived since the reading began, one bit per slot.
  std::atomic<std::uint32_t> parametersAnswered_{0};
  std::atomic<bool> smartPlateCheckPending_{false};
  std::atomic<bool> refreshRequested_{false};
  std::atomic<bool> refreshComplete_{false};
};

}  // namespace torva
