#pragma once
// The ring of completed frames that the caller takes out. Each of its 625 entries holds a frame
// as floats, and room for the same frame as 32-bit and 16-bit integers, converted when the caller
// asks for them.
//
// Threads: the control thread completes frames (under the assembly lock); the caller's thread
// takes them. The count of frames not yet handed out and the caller's read index are guarded by
// the frame-count lock. An entry handed to the caller is not written again until 624 further
// frames have completed. When the caller falls behind and the ring is full, the oldest frame not
// yet handed out is dropped (and counted) so that the new one never overwrites a frame the
// caller is about to be given.

#include <atomic>
#include <cstdint>
#include <vector>

#include "driver/control/control_limits.h"

namespace torva {

class FrameRing {
 public:
  // Sizes every entry for `values` values; keeps the storage when the size is unchanged.
  // Clears the counts and indexes. Call with the assembly lock held, never while a caller may
  // still hold a frame of the previous geometry (a start of acquisition).
  void Reset(int values);
  int ValuesPerFrame() const { return values_; }
  // Frees the storage (shutdown).
  void Release();

  // Entry that receives the frame being assembled.
  float* WriteEntry() { return Floats(writeIndex_); }
  int WriteIndex() const { return writeIndex_; }
  // Makes room for the frame at the write index: when every entry holds a frame not yet handed
  // out, the oldest is dropped (true then). Call before filling the write entry.
  bool MakeRoomForWrite();
  // Counts the frame at the write index as completed and moves on; returns its index.
  int CompleteWrite();
  // Forgets every frame not yet handed out (call with the assembly lock held).
  void DropWaiting();

  // Hands out the next frame: returns the count of frames that were waiting (0 when none) and
  // sets `out` to the frame (the caller does not own it).
  int TakeFloats(const float*& out);
  // As TakeFloats, converting the frame to integers (truncation toward zero; 16-bit values keep
  // the low 16 bits). Returns 1 when a frame was handed out, else 0.
  int TakeLongs(const std::int32_t*& out);
  int TakeShorts(const std::int16_t*& out);

  int Available() const;
  // Frames dropped because the caller had not taken them when the ring was full.
  int Overruns() const { return overruns_.load(); }
  const float* Entry(int index) const { return Floats(index); }

 private:
  float* Floats(int index) { return floats_.data() + static_cast<std::size_t>(index) * static_cast<std::size_t>(values_); }
  const float* Floats(int index) const { return floats_.data() + static_cast<std::size_t>(index) * static_cast<std::size_t>(values_); }
  // Removes the frame at the read index from the count and returns its index (-1 when none is
  // waiting); `waiting` receives the count before the call.
  int TakeIndex(int& waiting);

  int values_ = 0;
  std::vector<float> floats_;
  std::vector<std::int32_t> longs_;
  std::vector<std::int16_t> shorts_;
  int writeIndex_ = 0;
  int readIndex_ = 0;   // guarded by the frame-count lock
  int available_ = 0;   // guarded by the frame-count lock
  std::atomic<int> overruns_{0};
};

}  // namespace torva
