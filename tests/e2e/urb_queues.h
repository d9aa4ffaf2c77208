#pragma once
// The URBs of one emulated usbfs device node, per client (one open file of the node): those
// waiting for the device and those completed and waiting to be reaped, plus which client holds
// the interface claim. Tells the node's FIFO whether anything can be reaped.
//
// A client that has closed the node is forgotten, with its URBs and its claim, the next time the
// queues are touched: umockdev (0.17) marks such a client disconnected but does not reliably
// signal it, so the queues look for themselves.
//
// Threads: not synchronised; the owning node calls it under its own lock.

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <optional>

#include "tests/e2e/gobject_ref.h"
#include "tests/e2e/ready_fifo.h"

namespace torva::e2e {

using SteadyTime = std::chrono::steady_clock::time_point;

// URB statuses as usbfs reports them.
inline constexpr int kUrbStall = -EPIPE;
inline constexpr int kUrbCancelled = -ENOENT;   // discarded (usb_kill_urb)
inline constexpr int kUrbDisconnected = -ESHUTDOWN;
inline constexpr int kUrbOverflow = -EOVERFLOW;

// A submitted URB: local copies of the client's usbdevfs_urb and of its buffer, kept until the
// client reaps it; reaping writes both back into the client's memory.
struct Urb {
  GObjectRef<UMockdevIoctlData> header;
  GObjectRef<UMockdevIoctlData> buffer;

  usbdevfs_urb& Fields() const { return *reinterpret_cast<usbdevfs_urb*>(header->data); }
  std::uint8_t* Data() const { return buffer ? buffer->data : nullptr; }
  // The URB's address in the client, which DISCARDURB names it by.
  gulong ClientAddress() const { return header->client_addr; }
  bool IsControl() const { return Fields().type == USBDEVFS_URB_TYPE_CONTROL; }
};

class UrbQueues {
 public:
  using Client = UMockdevIoctlClient*;
  // Answers a pending URB: fills its buffer and returns the status and length, or nothing while it
  // must keep waiting (then `readyAt` may say until when).
  struct Answer {
    int status = 0;
    std::size_t actualLength = 0;
  };
  using Responder =
      std::function<std::optional<Answer>(Urb& urb, std::optional<SteadyTime>& readyAt)>;

  explicit UrbQueues(ReadyFifo& fifo) : fifo_(fifo) {}

  // Completes a URB at once.
  void Complete(Client client, Urb urb, int status, std::size_t actualLength);
  // Queues a URB that waits for the device.
  void AddPending(Client client, Urb urb);
  // Offers every pending URB to `respond`, oldest first, and completes those it answers. After a
  // bulk URB that must wait, later bulk URBs of the same endpoint wait too (packets arrive in
  // order); `controlToo` says whether pending control requests are offered. Returns the earliest
  // time a waiting URB asked for.
  std::optional<SteadyTime> Service(const Responder& respond, bool controlToo);
  // Completes every pending URB of every client with `status`.
  void CompleteAllPending(int status);
  // Completes the client's pending URB at `address` as cancelled; false when there is none (it has
  // completed already, or never existed).
  bool Discard(Client client, gulong address);
  // The client's oldest completed URB, removed from the queue; nothing when there is none.
  std::optional<Urb> Reap(Client client);
  // Notes a client that made a request (its first one follows its opening of the node).
  void Track(Client client);
  // Forgets the clients that have closed the node, with their URBs and claims.
  void ForgetClosed();

  // Interface 0's claim: false when another client holds it.
  bool Claim(Client client);
  // False when the client does not hold the claim.
  bool Release(Client client);

  // Clients known to have the node open.
  int OpenClients() const;
  int PendingBulkReads() const;

 private:
  struct ClientUrbs {
    GObjectRef<UMockdevIoctlClient> client;  // to ask whether it is still connected
    std::list<Urb> pending;
    std::deque<Urb> completed;
  };
  ClientUrbs& Of(Client client);
  void UpdateReady();

  ReadyFifo& fifo_;
  std::map<Client, ClientUrbs> clients_;
  Client claimedBy_ = nullptr;
};

}  // namespace torva::e2e
