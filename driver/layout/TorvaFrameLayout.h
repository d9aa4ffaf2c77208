/*
 * TorvaFrameLayout: where each value lies in the frames the driver library hands out
 * (fmDLLTransferFloatData, fmDLLTransferLongData, fmDLLTransferShortData and the
 * fmDLLGetThe...DataLBVStyle copies of TorvaUSBDevice.h), in each of the three data formats
 * fmDLLSetDataFormat selects.
 *
 * A frame holds TORVA_FRAME_ROWS rows, one per sample; in every row the amplifiers stand at their
 * platform positions 0..positions-1 (positions: fmDLLGetDeviceCount).
 *   format 0: per position, the six channels Fx, Fy, Fz, Mx, My, Mz;
 *   format 1: per position, a record of eight: the sample counter, the six channels and the
 *             auxiliary word;
 *   format 2: the sample counter of position 0, every position's six channels, then the
 *             auxiliary word of the last position.
 * Counters and auxiliary words are stored converted to float; channels bit for bit. A frame is
 * sized for TORVA_FRAME_ROWS * torva_frame_values_per_record(format) * positions values (format 2
 * fits in the size of format 1); each row takes torva_frame_values_per_row values.
 *
 * Plain C99 and C++ without dependencies. The driver library places the values with these same
 * functions (constexpr under C++11 and later), so the header lives in a folder of its own below
 * all of the library's layers, from where each layer may include it; it is installed beside
 * TorvaUSBDevice.h.
 */
#ifndef TORVA_FRAME_LAYOUT_H
#define TORVA_FRAME_LAYOUT_H

/* Inline functions with external linkage under C++ (one definition for every translation unit),
 * static inline ones under C. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define TORVA_FRAME_FUNCTION constexpr inline
#elif defined(__cplusplus)
#define TORVA_FRAME_FUNCTION inline
#else
#define TORVA_FRAME_FUNCTION static inline
#endif

/* The data formats of fmDLLSetDataFormat. */
#define TORVA_FORMAT_CHANNELS 0
#define TORVA_FORMAT_RECORDS 1
#define TORVA_FORMAT_ROWS 2

/* Sample rows per frame: one per sample of a 512-byte streaming packet (fmDLLSetUSBPacketSize). */
#define TORVA_FRAME_ROWS 16
/* Channels of a position in each row: Fx, Fy, Fz, Mx, My, Mz (channel 0..5). */
#define TORVA_FRAME_CHANNELS 6
/* Values of a format-1 record: counter, six channels, auxiliary word, at these places. */
#define TORVA_RECORD_VALUES 8
#define TORVA_RECORD_COUNTER 0
#define TORVA_RECORD_CHANNELS 1
#define TORVA_RECORD_AUXILIARY 7
/* Index of a value a format does not hold (format 0 has no counter and no auxiliary word). */
#define TORVA_NO_VALUE (-1)

/* A frame's format and its positions (amplifiers). */
typedef struct TorvaFrameLayout {
  int format;
  int positions;
} TorvaFrameLayout;

/* Values per sample and position a frame is sized for; 0 for an unknown format. */
TORVA_FRAME_FUNCTION int torva_frame_values_per_record(int format) {
  return format == TORVA_FORMAT_CHANNELS                              ? TORVA_FRAME_CHANNELS
         : format == TORVA_FORMAT_RECORDS || format == TORVA_FORMAT_ROWS ? TORVA_RECORD_VALUES
                                                                       : 0;
}

/* Values one sample row takes. */
TORVA_FRAME_FUNCTION int torva_frame_values_per_row(TorvaFrameLayout layout) {
  return layout.format == TORVA_FORMAT_CHANNELS  ? TORVA_FRAME_CHANNELS * layout.positions
         : layout.format == TORVA_FORMAT_RECORDS ? TORVA_RECORD_VALUES * layout.positions
                                                 : TORVA_FRAME_CHANNELS * layout.positions + 2;
}

/* Format 1: the first value of the record of row `row`, position `position`. */
TORVA_FRAME_FUNCTION int torva_frame_record(TorvaFrameLayout layout, int row, int position) {
  return (row * layout.positions + position) * TORVA_RECORD_VALUES;
}

/* The sample counter of row `row`, position `position` (format 2: the row's one counter, that of
 * position 0); TORVA_NO_VALUE in format 0. */
TORVA_FRAME_FUNCTION int torva_frame_counter(TorvaFrameLayout layout, int row, int position) {
  return layout.format == TORVA_FORMAT_CHANNELS ? TORVA_NO_VALUE
         : layout.format == TORVA_FORMAT_RECORDS
             ? torva_frame_record(layout, row, position) + TORVA_RECORD_COUNTER
             : row * torva_frame_values_per_row(layout);
}

/* Channel `channel` (0 Fx .. 5 Mz) of row `row`, position `position`. */
TORVA_FRAME_FUNCTION int torva_frame_channel(TorvaFrameLayout layout, int row, int position,
                                             int channel) {
  return layout.format == TORVA_FORMAT_CHANNELS
             ? (row * layout.positions + position) * TORVA_FRAME_CHANNELS + channel
         : layout.format == TORVA_FORMAT_RECORDS
             ? torva_frame_record(layout, row, position) + TORVA_RECORD_CHANNELS + channel
             : row * torva_frame_values_per_row(layout) + 1 + TORVA_FRAME_CHANNELS * position +
                   channel;
}

/* The auxiliary word of row `row`, position `position` (format 2: the row's one auxiliary word,
 * that of the last position); TORVA_NO_VALUE in format 0. */
TORVA_FRAME_FUNCTION int torva_frame_auxiliary(TorvaFrameLayout layout, int row, int position) {
  return layout.format == TORVA_FORMAT_CHANNELS ? TORVA_NO_VALUE
         : layout.format == TORVA_FORMAT_RECORDS
             ? torva_frame_record(layout, row, position) + TORVA_RECORD_AUXILIARY
             : (row + 1) * torva_frame_values_per_row(layout) - 1;
}

#undef TORVA_FRAME_FUNCTION

#endif /* TORVA_FRAME_LAYOUT_H */
