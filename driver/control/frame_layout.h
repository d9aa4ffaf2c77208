#pragma once
// Where each value of a frame is, in each of the three data formats. A frame holds one row per
// sample (16 rows with 512-byte packets); in every row the amplifiers stand at their platform
// positions 0..n-1.
//   format 0: per position, the six channels Fx, Fy, Fz, Mx, My, Mz;
//   format 1: per position, a record of eight: the sample counter, the six channels and the
//             auxiliary word;
//   format 2: the sample counter of position 0, every position's six channels, then the
//             auxiliary word of the last position.
// Counters and auxiliary words are stored converted to float; channels bit for bit.
//
// Header only and free of dependencies, so that the library, its tools, its benchmarks, its tests
// and the host plugin all read frames through the same arithmetic.

namespace torva {

enum DataFormat : int { kFormatChannels = 0, kFormatRecords = 1, kFormatRows = 2 };

inline constexpr int kFrameChannels = 6;
// Values in a format-1 record: counter, six channels, auxiliary word, at these places.
inline constexpr int kRecordValues = 8;
inline constexpr int kRecordCounter = 0;
inline constexpr int kRecordChannels = 1;
inline constexpr int kRecordAuxiliary = 7;
// Index of a value a format does not hold (format 0 has no counter and no auxiliary word).
inline constexpr int kNoValue = -1;

class FrameLayout {
 public:
  constexpr FrameLayout(int format, int positions) : format_(format), positions_(positions) {}

  // Values per sample and position that a frame's buffers are sized for (format 2 fits in the
  // size of format 1); 0 for an unknown format.
  static constexpr int ValuesPerRecord(int format) {
    return format == kFormatChannels                            ? kFrameChannels
           : format == kFormatRecords || format == kFormatRows ? kRecordValues
                                                                : 0;
  }

  constexpr int Format() const { return format_; }
  constexpr int Positions() const { return positions_; }
  // Values one sample row takes.
  constexpr int ValuesPerRow() const {
    return format_ == kFormatChannels  ? kFrameChannels * positions_
           : format_ == kFormatRecords ? kRecordValues * positions_
                                       : kFrameChannels * positions_ + 2;
  }
  // The sample counter of row `row`, position `position` (format 2: the row's one counter, that
  // of position 0); kNoValue in format 0.
  constexpr int Counter(int row, int position) const {
    return format_ == kFormatChannels  ? kNoValue
           : format_ == kFormatRecords ? Record(row, position) + kRecordCounter
                                       : row * ValuesPerRow();
  }
  // Channel `channel` (0 Fx .. 5 Mz) of row `row`, position `position`.
  constexpr int Channel(int row, int position, int channel) const {
    return format_ == kFormatChannels  ? (row * positions_ + position) * kFrameChannels + channel
           : format_ == kFormatRecords ? Record(row, position) + kRecordChannels + channel
                                       : row * ValuesPerRow() + 1 + kFrameChannels * position +
                                             channel;
  }
  // The auxiliary word of row `row`, position `position` (format 2: the row's one auxiliary
  // word, that of the last position); kNoValue in format 0.
  constexpr int Auxiliary(int row, int position) const {
    return format_ == kFormatChannels  ? kNoValue
           : format_ == kFormatRecords ? Record(row, position) + kRecordAuxiliary
                                       : (row + 1) * ValuesPerRow() - 1;
  }

 private:
  constexpr int Record(int row, int position) const {
    return (row * positions_ + position) * kRecordValues;
  }

  int format_;
  int positions_;
};

// Two plates, format 1: row 1 of position 1 starts after three records.
static_assert(FrameLayout(kFormatRecords, 2).Counter(1, 1) == 24);
static_assert(FrameLayout(kFormatRows, 2).Auxiliary(0, 0) == 13);
static_assert(FrameLayout(kFormatChannels, 2).Channel(1, 0, 2) == 14);

}  // namespace torva
