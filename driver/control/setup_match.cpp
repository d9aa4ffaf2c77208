#include "driver/control/setup_match.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "driver/control/control_limits.h"

namespace torva {
namespace {

bool IsEmpty(const char (&serial)[kSerialFieldBytes]) {
  return std::all_of(serial, serial + kSerialFieldBytes, [](char c) { return c == '\0'; });
}

bool SameSerial(const char (&saved)[kSerialFieldBytes], const SerialField& attached) {
  return std::memcmp(saved, attached.data(), kSerialFieldBytes) == 0;
}

// Builds the new order one slot at a time, each slot at most once.
class OrderBuilder {
 public:
  explicit OrderBuilder(int deviceCount) : taken_(static_cast<std::size_t>(deviceCount), false) {
    order_.reserve(taken_.size());
  }
  void Add(int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= taken_.size() || Taken(slot)) return;
    taken_[static_cast<std::size_t>(slot)] = true;
    order_.push_back(slot);
  }
  bool Taken(int slot) const { return taken_[static_cast<std::size_t>(slot)]; }
  bool Complete() const { return order_.size() == taken_.size(); }
  std::vector<int> Take() { return std::move(order_); }

 private:
  std::vector<bool> taken_;
  std::vector<int> order_;
};

SetupCheck Failed(std::int32_t status, const char* message, std::vector<int> order) {
  return {status, message, std::move(order)};
}

}  // namespace

SetupMatch MatchSavedSetup(const SavedSetup& saved, int deviceCount,
                           const std::vector<SerialField>& slotSerials,
                           const std::vector<int>& currentOrder) {
  const int attached = std::max(deviceCount, 0);
  SetupMatch match;
  int savedCount = saved.count;
  if (savedCount < 0 || savedCount > kMaxAmplifiers) {
    savedCount = 0;
    match.result = SetupMatchResult::kCountCorrupt;
  } else if (attached < savedCount) {
    match.result = SetupMatchResult::kFewerAttached;
  }

  OrderBuilder order(attached);
  const auto entries = std::min(static_cast<std::size_t>(savedCount), saved.entries.size());
  const auto serials = std::min(static_cast<std::size_t>(attached), slotSerials.size());
  for (std::size_t e = 0; e < entries; ++e) {
    const SavedAmplifier& entry = saved.entries[e];
    if (IsEmpty(entry.amplifierSerial)) continue;
    for (std::size_t slot = 0; slot < serials; ++slot) {
      if (SameSerial(entry.amplifierSerial, slotSerials[slot])) order.Add(static_cast<int>(slot));
    }
  }

  if (!order.Complete()) {
    for (int slot : currentOrder) order.Add(slot);
    for (int slot = 0; slot < attached; ++slot) order.Add(slot);
    if (match.result != SetupMatchResult::kCountCorrupt) match.result = SetupMatchResult::kDiffers;
  }
  match.order = order.Take();
  return match;
}

SetupCheck CheckSetup(int deviceCount, bool configurationFound, const SavedSetup& saved,
                      const std::vector<SerialField>& slotSerials,
                      const std::vector<int>& currentOrder) {
  if (deviceCount <= 0) return Failed(kNoAmplifiers, kNoAmplifiersMessage, currentOrder);
  if (!configurationFound)
    return Failed(kSetupFileNotFound, kSetupFileNotFoundMessage, currentOrder);
  if (saved.version != kSetupFileVersion)
    return Failed(kSetupFileWrongVersion, kSetupFileWrongVersionMessage, currentOrder);

  SetupMatch match = MatchSavedSetup(saved, deviceCount, slotSerials, currentOrder);
  switch (match.result) {
    case SetupMatchResult::kMatches:
      return {kSetupMatches, std::string(), std::move(match.order)};
    case SetupMatchResult::kCountCorrupt:
      return Failed(kSetupMismatch, kSetupCountCorruptMessage, std::move(match.order));
    case SetupMatchResult::kDiffers:
    case SetupMatchResult::kFewerAttached:
      break;
  }
  return Failed(kSetupMismatch, kSetupMismatchMessage, std::move(match.order));
}

}  // namespace torva
