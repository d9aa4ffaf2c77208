#pragma once
// The saved setup, TorvaUsbSetup.cfg in the configuration directory: the acquisition settings and
// the amplifiers of the setup in platform order. Plain text, one value a line, lines ended by
// CR LF:
//   101                          format version
//   n                            number of amplifiers
//   rate, run mode, genlock      one line each
//   then per amplifier: amplifier serial, amplifier model, platform serial, platform model.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/control/acquisition_settings.h"

namespace torva {

inline constexpr const char* kSetupFileName = "TorvaUsbSetup.cfg";
inline constexpr std::int32_t kSetupFileVersion = 101;
inline constexpr std::size_t kSerialFieldBytes = 16;
inline constexpr std::size_t kModelFieldBytes = 16;
inline constexpr std::size_t kPlatformModelFieldBytes = 28;
// A saved setup of the most amplifiers is a few kilobytes; a larger file is not one.
inline constexpr std::uint64_t kMaxSetupFileBytes = 1024 * 1024;

#pragma pack(push, 1)
// One amplifier of the saved setup. NUL-padded text; a value that fills its field has no NUL.
struct SavedAmplifier {
  char amplifierSerial[kSerialFieldBytes];
  char amplifierModel[kModelFieldBytes];
  char platformSerial[kSerialFieldBytes];
  char platformModel[kPlatformModelFieldBytes];
};
#pragma pack(pop)

static_assert(sizeof(SavedAmplifier) == 76);
static_assert(offsetof(SavedAmplifier, amplifierModel) == 16);
static_assert(offsetof(SavedAmplifier, platformSerial) == 32);
static_assert(offsetof(SavedAmplifier, platformModel) == 48);

struct SavedSetup {
  std::int32_t version = 0;
  // The count as saved, even when outside 0..kMaxAmplifiers (then `entries` is empty).
  std::int32_t count = 0;
  std::int32_t rate = kDefaultAcquisitionRate;
  std::int32_t runMode = 0;
  std::int32_t genlock = 0;
  // `count` entries when the count is valid; entries the file does not reach stay empty.
  std::vector<SavedAmplifier> entries;
};

// Reads the saved setup; nothing when there is no regular file at `path` or it cannot be read
// whole (no permission, a read error, larger than kMaxSetupFileBytes). It is opened so that a
// FIFO there cannot block the reader. CR LF and LF line ends read alike. A value longer than its
// field is cut and the rest of its line skipped. Header numbers that are missing or unreadable
// keep their defaults, and no amplifier text is read after them.
std::optional<SavedSetup> ReadSetupFile(const std::string& path);

// Writes the saved setup for `entries` in platform order, replacing the file whole (ReplaceFile:
// a failed write leaves the previous file as it was, an existing file keeps its owner and mode).
// Each text is written up to its first NUL, its first line break or its field's length. False
// when the file cannot be written, or when there are more than kMaxAmplifiers entries (nothing
// is written then).
bool WriteSetupFile(const std::string& path, std::int32_t rate, std::int32_t runMode,
                    std::int32_t genlock, const std::vector<SavedAmplifier>& entries);

// The text of a field as the file holds it: up to its first NUL or line break, at most its length.
template <std::size_t Bytes>
std::string FieldText(const char (&field)[Bytes]) {
  const char* end = std::find_if(field, field + Bytes,
                                 [](char c) { return c == '\0' || c == '\r' || c == '\n'; });
  return std::string(field, end);
}

}  // namespace torva
