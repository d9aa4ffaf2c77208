#pragma once
// The device node of an emulated USB device, made a FIFO whose writability tells libusb when a URB
// can be reaped.
//
// libusb waits for a usbfs device by poll()ing its node for POLLOUT, which the kernel raises while
// a completed URB waits to be reaped. The node umockdev creates is a plain file, and a plain file
// is always writable: libusb would wake at once, find nothing to reap (EAGAIN) and poll again, so
// every thread waiting for a transfer would burn a core. A FIFO of one page gives libusb the
// kernel's signal instead: the testbed keeps it full (not writable) while nothing can be reaped
// and empties it when a URB completes, and libusb's poll sleeps until there is work. umockdev's
// preload library opens the node by path and forwards its ioctls to the testbed whatever kind of
// file it is; nobody ever reads or writes the FIFO but the testbed.
//
// Threads: not synchronised; the owning node calls it under its own lock.

#include <string>

namespace torva::e2e {

class ReadyFifo {
 public:
  // Replaces the file at `path` (the node's real path inside the testbed) by a FIFO that is not
  // ready. Valid() tells whether that worked.
  explicit ReadyFifo(const std::string& path);
  ReadyFifo(const ReadyFifo&) = delete;
  ReadyFifo& operator=(const ReadyFifo&) = delete;
  ~ReadyFifo();

  bool Valid() const { return fd_ >= 0; }
  // Ready: the node polls writable. Changes the FIFO only when the state changes.
  void SetReady(bool ready);

 private:
  int fd_ = -1;
  bool ready_ = true;  // a fresh FIFO is empty, hence writable
};

}  // namespace torva::e2e
