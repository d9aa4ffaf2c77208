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
  const auto order = PlatformOrder();
  if (out != nullptr) std::copy(order.begin(), order.begin() + count, out);
  return count;
}

void CThreadManager::SetOrderingThreshold(float threshold) {
  const int count = deviceCount_.load();
  const auto order = PlatformOrder();
  for (int position = 0; position < count; ++position) {
    EditRecords(order[static_cast<std::size_t>(position)],
                [&](AmplifierParameterBlock&, DeviceRuntimeBlock& runtime) {
                  runtime.orderingThreshold = threshold;
                  runtime.orderingThresholdSet = 1;
                });
  }
}

void CThreadManager::StartOrdering() {
  platform::CriticalSectionLock lock(AssemblyLock());
  ordering_.Start(deviceCount_.load(), dataFormat_.load());
  deliveryEnabled_ = 0;
  dataFormat_ = kFormatChannels;
  holdFirstPacket_ = 0;
  // Frames from before the run are not handed out during it, nor after it.
  assembler_.Ring().DropWaiting();
}

void CThreadManager::CancelOrdering() {
  StopAcquisition();
  platform::CriticalSectionLock lock(AssemblyLock());
  if (const auto format = ordering_.Cancel()) dataFormat_ = *format;
  holdFirstPacket_ = 1;
}

void CThreadManager::RunLoadTest(int slot, int position, platform::WParam ringIndex) {
  const float force =
      assembler_.Scratch(position * kChannelsPerRecord + kVerticalForceChannel);
  DeviceRuntimeBlock runtime{};
  AmplifierParameterBlock parameters{};
  if (!CopyRuntime(slot, runtime) || !CopyParameters(slot, parameters)) return;
  auto sameAmplifier = [&](int orderedSlot) {
    AmplifierParameterBlock other{};
    return CopyParameters(orderedSlot, other) &&
           std::memcmp(other.amplifierSerial, parameters.amplifierSerial,
                       sizeof parameters.amplifierSerial) == 0;
  };
  if (ordering_.Load(slot, force - runtime.orderingThreshold >= 0.0f, sameAmplifier)) {
    platform::PostThreadMessage(Identifier(), kMsgOrderingComplete, ringIndex, position);
    std::this_thread::yield();
  }
}

void CThreadManager::OnOrderingComplete(platform::WParam /*wParam*/, platform::LParam /*lParam*/) {
  StopAcquisition();
  platform::CriticalSectionLock lock(AssemblyLock());
  // A cancel or a new run since the completion leaves the order as it is.
  const auto completion = ordering_.TakeCompletion();
  if (!completion) return;
  dataFormat_ = completion->format;
  const int count = deviceCount_.load();
  std::copy(completion->order.begin(), completion->order.begin() + count, order_.begin());
  UpdatePositions();
}

}  // namespace torva
