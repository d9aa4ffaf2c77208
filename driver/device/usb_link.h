#pragma once
// The USB link of one amplifier's device thread: the opened amplifier, its endpoint table, the
// control endpoint and the three endpoints the control thread selects, the request to clear the
// data endpoint's halt, and the flags that stop transfers once the amplifier is gone or the
// thread is ending.
//
// Threads and locking: the link shares the owning device's lock (CUSBDevice::lock_), given to it
// at construction, and never holds it across a USB request.
// - The control thread opens the amplifier, builds and copies the endpoint table and selects the
//   endpoints while the device thread is still suspended; these members take the lock themselves.
// - AbortDataEndpoint, AbortTransfers, CurrentFrameNumber and ResetUsbDevice run on the caller's
//   thread: they take the lock only to copy the endpoints and a shared reference to the opened
//   device, which keeps it alive while their request runs without the lock.
// - The device thread reads Control() and DataEndpoint() with the lock held and then uses them
//   without it: only Release(), on the device thread, clears them. TakeDataResetPending,
//   DataResetPending and Release are called with the lock held.
// - VendorRequest and MarkLostIfGone run on the device thread without the lock.
// - IsOpen and Ending are atomic: any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "driver/device/endpoint_table.h"
#include "platform/sync.h"

namespace torva {

namespace usb {
class UsbDevice;
class CCyUSBEndPoint;
class CCyControlEndPoint;
}  // namespace usb

class UsbLink {
 public:
  enum class OpenOutcome { kOpened, kNotOpened, kInUse };

  explicit UsbLink(platform::CriticalSection& deviceLock);
  ~UsbLink();
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;

  // Opens the ordinal-th amplifier on the bus (vendor 0x1F6D, product 300 or 200) and takes its
  // interface. kInUse: another program holds it, and it is left alone (MatchedSerial names it).
  OpenOutcome Open(int ordinal);
  // The serial number of the amplifier the last Open matched ("" when none).
  const std::string& MatchedSerial() const { return matchedSerial_; }
  // Amplifiers counted on the bus by Open(0).
  int AmplifiersFound() const { return amplifiersFound_; }
  int MatchedProductId() const { return matchedProductId_; }
  bool IsOpen() const { return open_.load(); }
  bool BuildEndpointTable();
  bool CopyEndpointTable(EndpointTable& out) const;
  // Binds the data endpoint (no time-out) and the two further endpoints (the second with a
  // 2000 ms time-out) by their endpoint-table index.
  void SelectEndpoints(int dataIndex, int secondIndex, int thirdIndex);

  // Ends a pending bulk read; the device thread then clears the data endpoint's halt.
  void AbortDataEndpoint();
  // No transfer starts any more, and those in flight are ended. Safe to call repeatedly.
  void AbortTransfers();
  bool Ending() const { return ending_.load(); }
  std::optional<std::uint32_t> CurrentFrameNumber();
  bool ResetUsbDevice();

  usb::CCyControlEndPoint* Control() const { return control_; }
  usb::CCyUSBEndPoint* DataEndpoint() const { return dataEndpoint_; }
  // Whether the data endpoint waits for its halt to be cleared; Take clears the request and says
  // whether it was made (false without a data endpoint).
  bool DataResetPending() const { return dataResetPending_; }
  bool TakeDataResetPending();
  // A vendor request to the device on the control endpoint, `length` bytes to or from `data`.
  bool VendorRequest(std::uint8_t request, bool toDevice, std::uint8_t* data, std::int32_t& length);
  // After a transfer on `endpoint` failed: true once when the amplifier has left the bus (the link
  // is no longer open).
  bool MarkLostIfGone(const usb::CCyUSBEndPoint& endpoint);
  // Lets go of the endpoints and the opened amplifier (the thread's quit).
  void Release();

 private:
  platform::CriticalSection& deviceLock_;
  std::atomic<bool> open_{false};
  // Set by AbortTransfers: no new transfer starts.
  std::atomic<bool> ending_{false};
  // Shared so that an abort or reset on the caller's thread keeps it alive while it runs.
  std::shared_ptr<usb::UsbDevice> usb_;
  usb::CCyControlEndPoint* control_ = nullptr;
  usb::CCyUSBEndPoint* dataEndpoint_ = nullptr;
  usb::CCyUSBEndPoint* secondEndpoint_ = nullptr;
  usb::CCyUSBEndPoint* thirdEndpoint_ = nullptr;
  // The data endpoint was aborted by the control side and needs its halt cleared.
  bool dataResetPending_ = false;
  int amplifiersFound_ = 0;
  int matchedProductId_ = 0;
  std::string matchedSerial_;
  EndpointTable endpoints_{};
};

}  // namespace torva
