#pragma once
// Where each value of a frame is, in each of the three data formats: the library's names for the
// layout that callers of the frame exports read from the installed header TorvaFrameLayout.h.
// That header holds the one copy of the arithmetic (constexpr under C++); it lives in
// driver/layout, below every layer of the library and including nothing, so this layer uses it
// without including the export layer above it.

#include "driver/layout/TorvaFrameLayout.h"

namespace torva {

enum DataFormat : int {
  kFormatChannels = TORVA_FORMAT_CHANNELS,
  kFormatRecords = TORVA_FORMAT_RECORDS,
  kFormatRows = TORVA_FORMAT_ROWS
};

inline constexpr int kFrameChannels = TORVA_FRAME_CHANNELS;
// Values in a format-1 record: counter, six channels, auxiliary word, at these places.
inline constexpr int kRecordValues = TORVA_RECORD_VALUES;
inline constexpr int kRecordCounter = TORVA_RECORD_COUNTER;
inline constexpr int kRecordChannels = TORVA_RECORD_CHANNELS;
inline constexpr int kRecordAuxiliary = TORVA_RECORD_AUXILIARY;
// Index of a value a format does not hold (format 0 has no counter and no auxiliary word).
inline constexpr int kNoValue = TORVA_NO_VALUE;

class FrameLayout {
 public:
  constexpr FrameLayout(int format, int positions) : layout_{format, positions} {}

  // Values per sample and position that a frame's buffers are sized for (format 2 fits in the
  // size of format 1); 0 for an unknown format.
  static constexpr int ValuesPerRecord(int format) { return torva_frame_values_per_record(format); }

  constexpr int Format() const { return layout_.format; }
  constexpr int Positions() const { return layout_.positions; }
  // Values one sample row takes.
  constexpr int ValuesPerRow() const { return torva_frame_values_per_row(layout_); }
  // The sample counter of row `row`, position `position` (format 2: the row's one counter, that
  // of position 0); kNoValue in format 0.
  constexpr int Counter(int row, int position) const {
    return torva_frame_counter(layout_, row, position);
  }
  // Channel `channel` (0 Fx .. 5 Mz) of row `row`, position `position`.
  constexpr int Channel(int row, int position, int channel) const {
    return torva_frame_channel(layout_, row, position, channel);
  }
  // The auxiliary word of row `row`, position `position` (format 2: the row's one auxiliary
  // word, that of the last position); kNoValue in format 0.
  constexpr int Auxiliary(int row, int position) const {
    return torva_frame_auxiliary(layout_, row, position);
  }

 private:
  TorvaFrameLayout layout_;
};

// Two plates, format 1: row 1 of position 1 starts after three records.
static_assert(FrameLayout(kFormatRecords, 2).Counter(1, 1) == 24);
static_assert(FrameLayout(kFormatRows, 2).Auxiliary(0, 0) == 13);
static_assert(FrameLayout(kFormatChannels, 2).Channel(1, 0, 2) == 14);

}  // namespace torva
