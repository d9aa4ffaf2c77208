#pragma once
// DeviceTable: the device threads of the control thread, one per slot, and the objects behind
// them.
//
// Threads: the bring-up (the caller's thread inside fmDLLInit, or the control thread once every
// device thread of the previous bring-up has ended) and the shutdown write the table; the other
// members only read it (Device, ThreadOf), from any thread. A bring-up runs only while no
// acquisition does and the exported functions see the old or the new entry of a slot, both of
// which stay valid objects: an object is deleted only once its thread has ended and no slot names
// it any more (ReleaseEnded), because messages it posted may still wait in the control thread's
// queue and refer to its rings.
//
// Life cycle: a device is created suspended (Create), named in its slot once its amplifier is
// open (Name) or retired when it is not (Retire); Forget empties the slots at a new bring-up and
// at shutdown; WaitForThreads is the bounded wait for every thread created.

#include <array>
#include <chrono>
#include <memory>
#include <vector>

#include "driver/control/control_limits.h"
#include "platform/worker_thread.h"

namespace torva {

class CUSBDevice;

class DeviceTable {
 public:
  DeviceTable();
  ~DeviceTable();

  // The device of a slot, or null.
  CUSBDevice* Device(int slot) const {
    return slot >= 0 && slot < kMaxAmplifiers ? devices_[static_cast<std::size_t>(slot)] : nullptr;
  }
  platform::ThreadId ThreadOf(int slot) const { return threads_[static_cast<std::size_t>(slot)]; }

  // Creates a suspended device thread for `slot`; null when the system refused a thread.
  CUSBDevice* Create(int slot);
  // The device of `slot` opened its amplifier: the slot names it.
  void Name(int slot, CUSBDevice& device);
  // The device of `slot` did not open its amplifier: its thread will end, and shutdown still
  // waits for it.
  void Retire(int slot, CUSBDevice& device);
  // No slot names a device any more.
  void Forget();

  // Tells the device threads of slots 0..count-1 to end, and ends their transfers in flight so
  // that a thread waiting for a slow or silent amplifier sees its quit message at once.
  void TellThreadsToEnd(int count);
  // Waits for every device thread created to end, ending their transfers again and again (a
  // thread may start one more after it was told to end); gives up after `limit`.
  void WaitForThreads(std::chrono::milliseconds limit);
  // Deletes the devices whose threads have ended and that no slot names.
  void ReleaseEnded();
  // Keeps the objects of threads that never ended: deleting one under its running thread would be
  // worse than leaving it. For the control thread's destructor.
  void LeaveRunning();

 private:
  std::array<CUSBDevice*, kMaxAmplifiers> devices_{};
  std::array<std::shared_ptr<platform::ThreadHandle>, kMaxAmplifiers> handles_{};
  std::array<platform::ThreadId, kMaxAmplifiers> threads_{};
  // Device threads told to end during a bring-up; shutdown waits for them too.
  std::vector<std::shared_ptr<platform::ThreadHandle>> retired_;
  // Every device object created, named or not.
  std::vector<std::unique_ptr<CUSBDevice>> owned_;
};

}  // namespace torva
