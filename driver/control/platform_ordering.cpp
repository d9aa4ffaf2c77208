// Platform ordering: setting the order directly, or letting the user define it by loading the
// plates one after the other.

#include <algorithm>
#include <cstring>
#include <thread>

#include "driver/control/library_locks.h"
#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"

namespace torva {
namespace {

// Entry of the vertical force of a packet's first sample in the channels-only layout.
constexpr int kVerticalForceChannel = 2;
constexpr int kChannelsPerRecord = 6;

}  // namespace

void CThreadManager::SetPlatformOrder(const int* positions) {
  if (positions == nullptr) return;
  const int count = deviceCount_.load();
  // Positions must be a permutation of 0..N-1: an entry out of range or named twice would lose
  // an amplifier from the order.
  std::array<bool, kMaxAmplifiers> seen{};
  for (int i = 0; i < count; ++i) {
    const int position = positions[i];
    if (position < 0 || position >= count || seen[static_cast<std::size_t>(position)]) return;
    seen[static_cast<std::size_t>(position)] = true;
  }
  platform::CriticalSectionLock lock(AssemblyLock());
  std::array<int, kMaxAmplifiers> reordered{};
  for (int i = 0; i < count; ++i) reordered[static_cast<std::size_t>(i)] = order_[static_cast<std::size_t>(positions[i])];
  std::copy(reordered.begin(), reordered.begin() + count, order_.begin());
  UpdatePositions();
}

int CThreadManager::CopyPlatformOrder(int* out) const {
  const int count = deviceCount_.load();
  if (out != nullptr) std::copy(order_.begin(), order_.begin() + count, out);
  return count;
}

void CThreadManager::SetOrderingThreshold(float threshold) {
  const int count = deviceCount_.load();
  for (int position = 0; position < count; ++position) {
    EditRecords(order_[static_cast<std::size_t>(position)],
                [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
                  runtime.orderingThreshold = threshold;
                  runtime.orderingThresholdSet = 1;
                });
  }
}

void CThreadManager::StartOrdering() {
  platform::CriticalSectionLock lock(AssemblyLock());
  newOrder_.fill(-1);
  orderedCount_ = 0;
  orderingActive_ = 1;
  deliveryEnabled_ = 0;
  orderingComplete_ = 0;
  formatBeforeOrdering_ = dataFormat_.load();
  dataFormat_ = kFormatChannels;
  holdFirstPacket_ = 0;
}

void CThreadManager::CancelOrdering() {
  StopAcquisition();
  platform::CriticalSectionLock lock(AssemblyLock());
  if (orderingActive_.exchange(0) != 0) dataFormat_ = formatBeforeOrdering_;
  holdFirstPacket_ = 1;
  newOrder_.fill(-1);
}

void CThreadManager::RunLoadTest(int slot, int position, platform::WParam ringIndex) {
  const float force =
      assembler_.Scratch(position * kChannelsPerRecord + kVerticalForceChannel);
  DeviceRuntimeBlock runtime{};
  AmplifierParameterBlock parameters{};
  if (!CopyRuntime(slot, runtime) || !CopyParameters(slot, parameters)) return;
  const int count = deviceCount_.load();
  if (force - runtime.orderingThreshold >= 0.0f) {
    // A plate is ordered once, even when it is loaded again.
    bool known = false;
    int free = -1;
    for (int i = 0; i < count; ++i) {
      const int entry = newOrder_[static_cast<std::size_t>(i)];
      if (entry == -1) {
        if (free == -1) free = i;
        continue;
      }
      AmplifierParameterBlock other{};
      if (CopyParameters(entry, other) &&
          std::memcmp(other.amplifierSerial, parameters.amplifierSerial,
                      sizeof parameters.amplifierSerial) == 0)
        known = true;
    }
    if (!known && free != -1) {
      newOrder_[static_cast<std::size_t>(free)] = slot;
      ++orderedCount_;
    }
  }
  if (orderedCount_ >= count) {
    orderingActive_ = 0;
    orderingComplete_ = 1;
    platform::PostThreadMessage(Identifier(), kMsgOrderingComplete, ringIndex, position);
    std::this_thread::yield();
  }
}

void CThreadManager::OnOrderingComplete(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  StopAcquisition();
  platform::CriticalSectionLock lock(AssemblyLock());
  dataFormat_ = formatBeforeOrdering_;
  const int count = deviceCount_.load();
  std::copy(newOrder_.begin(), newOrder_.begin() + count, order_.begin());
  UpdatePositions();
}

}  // namespace torva
