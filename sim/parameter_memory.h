#pragma once
// The power-up contents of an emulated amplifier's 908-byte parameter memory.

#include "driver/device/amplifier_parameter_block.h"
#include "sim/amplifier_description.h"

namespace torva::sim {

// Plausible memory for the described amplifier and plate: identity texts, plate dimensions in
// inches, calibration, gain and excitation tables, rates and the smart-plate status.
AmplifierParameterBlock BuildParameterMemory(const AmplifierDescription& description);

// Copies `text` into a fixed NUL-padded field, cutting it so that one NUL always remains.
template <std::size_t N>
void SetTextField(char (&field)[N], const std::string& text) {
  std::size_t i = 0;
  // Fixed-size fields are NUL-padded, not NUL-terminated: a text may fill its field.
  for (; i < N && i < text.size(); ++i) field[i] = text[i];
  for (; i < N; ++i) field[i] = '\0';
}

}  // namespace torva::sim
