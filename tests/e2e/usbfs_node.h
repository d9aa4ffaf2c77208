#pragma once
// One emulated USB device node: answers the usbfs ioctls that libusb-1.0 issues on
// /dev/bus/usb/BBB/DDD by driving a sim::EmulatedAmplifier, the same model of the firmware that
// the in-process emulator drives, reached here through URBs instead of direct calls.
//
// A control URB is answered at once by the model (unless control requests are held: then it waits
// until released or discarded, like a device that never answers; the synchronous
// USBDEVFS_CONTROL, which libusb uses only without sysfs, is always answered at once). A bulk IN URB completes when
// the model has a packet for it: at once, or at the time the model says the packet is due, when
// ServiceDue (run by the testbed's deadline thread) offers it again. A bulk OUT URB completes at
// once. DISCARDURB completes a waiting URB as cancelled; CLEAR_HALT and RESET go to the model.
//
// Unplug: the URBs still waiting complete as the kernel completes them on a disconnect
// (-ESHUTDOWN), completed URBs can still be reaped (USBDEVFS_CAP_REAP_AFTER_DISCONNECT), and
// every other request fails with ENODEV. (The kernel also raises POLLERR on the node, which a
// FIFO cannot; libusb learns the same from the URBs' status and the ENODEV that follows.)
//
// Threads: Handle runs on umockdev's ioctl thread, ServiceDue on the deadline thread, the rest on
// the test's threads. One mutex guards all state. Nothing under it blocks: the node uses only the
// model's non-blocking calls (never its blocking BulkIn or its held replies), so umockdev's single
// ioctl thread is never held up.

#include <umockdev.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sim/emulated_amplifier.h"
#include "tests/e2e/ready_fifo.h"
#include "tests/e2e/sysfs_record.h"
#include "tests/e2e/urb_queues.h"

namespace torva::e2e {

struct NodeStatistics {
  long long ioctls = 0;
  long long emptyReaps = 0;  // REAPURBNDELAY with nothing to reap: libusb woke for nothing
  long long urbsSubmitted = 0;
  long long urbsDiscarded = 0;
  long long haltsCleared = 0;
  long long resets = 0;

  NodeStatistics& operator+=(const NodeStatistics& other) {
    ioctls += other.ioctls;
    emptyReaps += other.emptyReaps;
    urbsSubmitted += other.urbsSubmitted;
    urbsDiscarded += other.urbsDiscarded;
    haltsCleared += other.haltsCleared;
    resets += other.resets;
    return *this;
  }
};

class UsbfsNode {
 public:
  // `fifoPath` is the real path of the node inside the testbed; `kick` wakes the deadline thread
  // when a URB starts waiting for a packet.
  UsbfsNode(std::shared_ptr<sim::EmulatedAmplifier> model, BusAddress address,
            const std::string& fifoPath, std::function<void()> kick);
  UsbfsNode(const UsbfsNode&) = delete;
  UsbfsNode& operator=(const UsbfsNode&) = delete;

  bool Valid() const { return fifo_.Valid(); }
  const BusAddress& Address() const { return address_; }
  sim::EmulatedAmplifier& Model() const { return *model_; }

  // umockdev's handle-ioctl signal.
  void Handle(UMockdevIoctlClient* client);

  // Completes the bulk reads whose packets are due at `now`; returns when the next one is due.
  std::optional<SteadyTime> ServiceDue(SteadyTime now);

  // The device leaves the bus (see above). The model is unplugged too.
  void Disconnect();
  // While held, control URBs wait without an answer; releasing answers those still waiting.
  void HoldControlRequests(bool held);

  NodeStatistics Statistics() const;
  // Open files of the node.
  int OpenClients() const;
  // Waits until at least `count` bulk IN URBs wait for data; false when `limit` passes first.
  bool WaitForPendingBulkReads(int count, std::chrono::milliseconds limit) const;

 private:
  struct Outcome {
    long result = 0;
    int error = 0;
    std::optional<Urb> reaped;  // kept alive until umockdev has written it back
    GObjectRef<UMockdevIoctlData> argument;
  };

  // An ioctl that fails with `error`.
  static Outcome Failed(int error);
  Outcome Dispatch(UMockdevIoctlClient* client, gulong request, UMockdevIoctlData* argument);
  Outcome Submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
  Outcome SubmitControl(UMockdevIoctlClient* client, Urb urb);
  Outcome SubmitBulk(UMockdevIoctlClient* client, Urb urb);
  Outcome Reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
  Outcome SynchronousControl(UMockdevIoctlData* argument);
  // The model's answer to a control request whose setup packet and data stage are at `bytes`.
  UrbQueues::Answer AnswerControl(std::uint8_t* bytes);
  // The model's answer to a waiting URB, or nothing while it must wait on.
  std::optional<UrbQueues::Answer> Respond(Urb& urb, SteadyTime now,
                                           std::optional<SteadyTime>& readyAt);
  std::optional<SteadyTime> ServiceLocked(SteadyTime now, bool controlToo);

  const std::shared_ptr<sim::EmulatedAmplifier> model_;
  const BusAddress address_;
  const std::function<void()> kick_;

  mutable std::mutex mutex_;
  mutable std::condition_variable pendingChanged_;
  ReadyFifo fifo_;
  UrbQueues urbs_{fifo_};
  bool gone_ = false;
  bool controlHeld_ = false;
  NodeStatistics statistics_;
};

}  // namespace torva::e2e
