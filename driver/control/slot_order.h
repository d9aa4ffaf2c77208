#pragma once
// SlotOrder: the platform order (position to slot) and the position of every slot, which the
// packet handler uses to place each amplifier's channels in a frame.
//
// Threads: no lock of its own. Its owner takes the assembly lock (library_locks.h) around every
// call, so that the packet handler, the ordering run and the callers' reorderings see one order.
// Only the first `count` positions are meaningful; the owner passes the current count.

#include <array>

#include "driver/control/control_limits.h"

namespace torva {

class SlotOrder {
 public:
  using Table = std::array<int, kMaxAmplifiers>;

  SlotOrder() { Clear(); }

  // No slot at any position (-1), every slot at position 0.
  void Clear();
  // Position i holds slot i, for i < count.
  void Identity(int count);
  // Takes `order[0..count-1]` as the new order.
  void Adopt(const int* order, int count);
  // New order[i] = old order[positions[i]]. Positions must be a permutation of 0..count-1: any
  // entry out of range or named twice would lose an amplifier, so such a list changes nothing and
  // gives false.
  bool Reorder(const int* positions, int count);
  // Rebuilds the position of every slot from the order: the first position naming a slot is its
  // position; a slot named nowhere keeps position 0.
  void UpdatePositions(int count);

  const Table& Slots() const { return order_; }
  const Table& Positions() const { return positionOfSlot_; }
  // The slot at a position, or -1 when the position is outside 0..count-1.
  int SlotAt(int position, int count) const;
  // The first position among 0..count-1 whose entry is `slot`, else 0.
  int PositionOf(int slot, int count) const;

 private:
  Table order_{};
  Table positionOfSlot_{};
};

}  // namespace torva
