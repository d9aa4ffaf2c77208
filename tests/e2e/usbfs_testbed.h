#pragma once
// Emulated amplifiers on an emulated USB bus that the real libusb-1.0 reaches through umockdev:
// each amplifier gets a sysfs device with its descriptors and a /dev/bus/usb node whose usbfs
// ioctls a UsbfsNode answers from a sim::EmulatedAmplifier. Programs of this process and its
// children (which inherit UMOCKDEV_DIR and LD_PRELOAD) see the amplifiers as if they were plugged
// in; the driver library finds them through libusb like real ones.
//
// The process must run under umockdev's preload library (EnsureUmockdevPreload). One testbed at a
// time per process: it sets UMOCKDEV_DIR.
//
// Threads: every member may be called from any thread.

#include <umockdev.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/amplifier_description.h"
#include "sim/emulated_amplifier.h"
#include "tests/e2e/deadline_thread.h"
#include "tests/e2e/gobject_ref.h"
#include "tests/e2e/usbfs_node.h"

namespace torva::e2e {

class UsbfsTestbed {
 public:
  UsbfsTestbed();
  explicit UsbfsTestbed(const std::vector<sim::AmplifierDescription>& amplifiers);
  UsbfsTestbed(const UsbfsTestbed&) = delete;
  UsbfsTestbed& operator=(const UsbfsTestbed&) = delete;
  ~UsbfsTestbed();

  // Plugs an amplifier in at the next free address; udev listeners (libusb's hot-plug monitor)
  // hear an "add" event. Returns its index; indexes are never reused.
  std::size_t Plug(const sim::AmplifierDescription& description);
  // Unplugs amplifier `index`: its transfers end as on a disconnect, every later request fails with
  // ENODEV, and it leaves sysfs with a "remove" event.
  void Unplug(std::size_t index);

  // Amplifiers ever plugged in, unplugged ones included.
  std::size_t Count() const;
  sim::EmulatedAmplifier& Amplifier(std::size_t index) const;
  UsbfsNode& Node(std::size_t index) const;
  // Makes waiting reads look at their amplifier again: call after a fault knob of a model changed
  // what they wait for.
  void Kick();
  // Sum of every node's statistics.
  NodeStatistics Statistics() const;

 private:
  struct Device;
  std::optional<SteadyTime> ServiceDue(SteadyTime now);
  std::shared_ptr<Device> DeviceAt(std::size_t index) const;
  // The devices now, for work done without the lock.
  std::vector<std::shared_ptr<Device>> Snapshot() const;

  GObjectRef<UMockdevTestbed> testbed_;
  const std::string root_;
  const SteadyTime busEpoch_;
  mutable std::mutex mutex_;  // guards devices_ and the next address
  std::vector<std::shared_ptr<Device>> devices_;
  int nextDevice_;
  int nextPort_;
  DeadlineThread deadlines_;  // last: stopped first, while the nodes it serves still exist
};

}  // namespace torva::e2e
