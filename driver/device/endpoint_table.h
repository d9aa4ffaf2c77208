#pragma once
// The endpoints of an opened amplifier, built by its device thread right after the USB device
// opens; the control thread keeps a copy.

#include <cstddef>
#include <cstdint>

namespace torva {

inline constexpr std::size_t kEndpointTableBytes = 284;
inline constexpr int kMaxEndpointEntries = 10;

// Endpoint kind codes of EndpointEntry::kind.
enum class EndpointKind : int {
  kOther = -1,
  kControl = 0,
  kIsochronousIn = 1,
  kIsochronousOut = 2,
  kBulkIn = 3,
  kBulkOut = 4,
  kInterruptIn = 5,
  kInterruptOut = 6,
};

#pragma pack(push, 1)
struct EndpointEntry {
  std::int32_t address;        // bit 7 set for IN
  double kind;                 // an EndpointKind code held as a 64-bit float
  std::int32_t index;          // position in the amplifier's endpoint list
  std::int32_t zero;
  std::int32_t maxPacketSize;
  std::int32_t interval;
};

struct EndpointTable {
  EndpointEntry entries[kMaxEndpointEntries];
  std::int32_t count;
};
#pragma pack(pop)

static_assert(sizeof(EndpointEntry) == 28);
static_assert(offsetof(EndpointEntry, kind) == 4);
static_assert(offsetof(EndpointEntry, maxPacketSize) == 20);
static_assert(sizeof(EndpointTable) == kEndpointTableBytes);
static_assert(offsetof(EndpointTable, count) == 280);

}  // namespace torva
