#pragma once
// Builds saved-setup entries and serial fields from text for the tests.

#include <algorithm>
#include <cstring>
#include <string>

#include "driver/control/setup_file.h"
#include "driver/control/setup_match.h"

namespace torva::testing {

// Copies `text` into a NUL-padded field, cut to the field's length.
template <std::size_t Bytes>
void Fill(char (&field)[Bytes], const std::string& text) {
  std::memset(field, 0, Bytes);
  std::memcpy(field, text.data(), std::min(Bytes, text.size()));
}

template <std::size_t Bytes>
std::string Text(const char (&field)[Bytes]) {
  return std::string(field, std::find(field, field + Bytes, '\0'));
}

inline SavedAmplifier Saved(const std::string& serial, const std::string& model = "AMP-6",
                            const std::string& plateSerial = "PLT-7",
                            const std::string& plateModel = "PLATE-600") {
  SavedAmplifier entry{};
  Fill(entry.amplifierSerial, serial);
  Fill(entry.amplifierModel, model);
  Fill(entry.platformSerial, plateSerial);
  Fill(entry.platformModel, plateModel);
  return entry;
}

inline bool SameEntry(const SavedAmplifier& a, const SavedAmplifier& b) {
  return std::memcmp(&a, &b, sizeof(SavedAmplifier)) == 0;
}

inline SerialField Serial(const std::string& text) {
  SerialField field{};
  std::copy_n(text.begin(), std::min(field.size(), text.size()), field.begin());
  return field;
}

}  // namespace torva::testing
