#include "driver/control/slot_order.h"

#include <algorithm>

namespace torva {

void SlotOrder::Clear() {
  order_.fill(-1);
  positionOfSlot_.fill(0);
}

void SlotOrder::Identity(int count) {
  for (int slot = 0; slot < count; ++slot) order_[static_cast<std::size_t>(slot)] = slot;
}

void SlotOrder::Adopt(const int* order, int count) { std::copy(order, order + count, order_.begin()); }

bool SlotOrder::Reorder(const int* positions, int count) {
  std::array<bool, kMaxAmplifiers> seen{};
  for (int i = 0; i < count; ++i) {
    const int position = positions[i];
    if (position < 0 || position >= count || seen[static_cast<std::size_t>(position)]) return false;
    seen[static_cast<std::size_t>(position)] = true;
  }
  Table reordered{};
  for (int i = 0; i < count; ++i)
    reordered[static_cast<std::size_t>(i)] = order_[static_cast<std::size_t>(positions[i])];
  std::copy(reordered.begin(), reordered.begin() + count, order_.begin());
  return true;
}

void SlotOrder::UpdatePositions(int count) {
  positionOfSlot_.fill(0);
  for (int position = count - 1; position >= 0; --position) {
    const int slot = order_[static_cast<std::size_t>(position)];
    if (slot >= 0 && slot < kMaxAmplifiers)
      positionOfSlot_[static_cast<std::size_t>(slot)] = position;
  }
}

int SlotOrder::SlotAt(int position, int count) const {
  if (position < 0 || position >= count) return -1;
  return order_[static_cast<std::size_t>(position)];
}

int SlotOrder::PositionOf(int slot, int count) const {
  for (int position = 0; position < count; ++position)
    if (order_[static_cast<std::size_t>(position)] == slot) return position;
  return 0;
}

}  // namespace torva
