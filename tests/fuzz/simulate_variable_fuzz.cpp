// libFuzzer target: any text as the value of TORVA_SIMULATE. An accepted value holds only digits,
// commas and blanks and gives 0..25 amplifiers of product types 1..9999, each with serials of its
// own; a list of two or more written back with commas gives the same amplifiers. A rejected value
// gives none.

#include <cctype>
#include <set>
#include <string>
#include <string_view>

#include "sim/simulate_variable.h"
#include "tests/fuzz/fuzz_support.h"

using namespace torva::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto devices = ParseSimulateVariable(text);
  if (!devices) return 0;

  for (char c : text)
    FUZZ_CHECK(std::isdigit(static_cast<unsigned char>(c)) || c == ',' ||
                   std::isspace(static_cast<unsigned char>(c)),
               "only digits, commas and blanks are accepted");
  FUZZ_CHECK(devices->size() <= static_cast<std::size_t>(kMaxEmulatedAmplifiers),
             "at most 25 amplifiers");
  std::set<std::string> amplifierSerials;
  std::set<std::string> platformSerials;
  std::string list;
  for (const AmplifierDescription& device : *devices) {
    FUZZ_CHECK(device.productType >= 1 && device.productType <= kMaxProductType,
               "a known product type");
    amplifierSerials.insert(device.amplifierSerial);
    platformSerials.insert(device.platformSerial);
    list += (list.empty() ? "" : ",") + std::to_string(device.productType);
  }
  FUZZ_CHECK(amplifierSerials.size() == devices->size() && platformSerials.size() == devices->size(),
             "every amplifier has serials of its own");

  if (devices->size() < 2) return 0;
  const auto again = ParseSimulateVariable(list);
  FUZZ_CHECK(again && again->size() == devices->size(), "the list written back is accepted");
  for (std::size_t i = 0; i < devices->size(); ++i)
    FUZZ_CHECK((*again)[i].productType == (*devices)[i].productType &&
                   (*again)[i].amplifierSerial == (*devices)[i].amplifierSerial,
               "the list written back gives the same amplifiers");
  return 0;
}
