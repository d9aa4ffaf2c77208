#pragma once
// Everything that reached an emulated device apart from streaming reads, in arrival order: control
// requests with their data, and pipe and device operations. Tests read it to see what the host
// sent and in which order. Not synchronised: the owning EmulatedAmplifier guards it.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace torva::sim {

// The eight bytes of a control request.
struct SetupPacket {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

enum class WireEvent {
  kControlOut,              // setup + data sent by the host
  kControlIn,               // setup; data = what the device answered
  kClearHalt,               // endpoint
  kAbortPipe,               // endpoint
  kResetDevice,
  kSelectAlternateSetting,  // setup.value = the setting
};

struct WireRecord {
  WireEvent event = WireEvent::kControlOut;
  SetupPacket setup;
  std::uint8_t endpoint = 0;
  std::vector<std::uint8_t> data;
  bool accepted = false;  // false when the device stalled or refused it

  // The command code of a vendor command packet (control OUT with a command request).
  std::optional<int> CommandCode() const;
  // Whether this is a reply request (vendor control IN for a reply).
  bool IsReplyRequest() const;
};

class WireLog {
 public:
  // The log holds at most this many bytes (records and their data); the oldest records are
  // dropped beyond it, so many emulated amplifiers streaming for hours stay within a few MiB each.
  static constexpr std::size_t kByteBudget = std::size_t{4} << 20;

  void Add(WireRecord record);
  std::vector<WireRecord> Records() const { return {records_.begin(), records_.end()}; }
  // Records dropped to stay within the budget since the last Clear.
  std::size_t Dropped() const { return dropped_; }
  std::size_t Bytes() const { return bytes_; }
  void Clear() {
    records_.clear();
    bytes_ = 0;
    dropped_ = 0;
  }

 private:
  static std::size_t CostOf(const WireRecord& record) {
    return sizeof(WireRecord) + record.data.capacity();
  }

  std::deque<WireRecord> records_;
  std::size_t bytes_ = 0;
  std::size_t dropped_ = 0;
};

}  // namespace torva::sim
