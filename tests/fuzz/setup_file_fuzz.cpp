// libFuzzer target: any bytes as the saved setup file. A setup that reads, written back and read
// again, reads back equal (texts as the writer keeps them: up to the first NUL or line break), and
// the second file written is the first byte for byte.

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "driver/control/control_limits.h"
#include "driver/control/setup_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace torva;

namespace {

const fuzz::ScratchFile& Input() {
  static const fuzz::ScratchFile file("setup-in");
  return file;
}
const fuzz::ScratchFile& Written() {
  static const fuzz::ScratchFile file("setup-out");
  return file;
}

bool SameEntry(const SavedAmplifier& a, const SavedAmplifier& b) {
  return FieldText(a.amplifierSerial) == FieldText(b.amplifierSerial) &&
         FieldText(a.amplifierModel) == FieldText(b.amplifierModel) &&
         FieldText(a.platformSerial) == FieldText(b.platformSerial) &&
         FieldText(a.platformModel) == FieldText(b.platformModel);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzz::WriteScratch(Input().Path(), data, size)) return 0;
  const auto first = ReadSetupFile(Input().Path());
  FUZZ_CHECK(first.has_value(), "a regular file within the size limit always reads");
  const bool countValid = first->count >= 0 && first->count <= kMaxAmplifiers;
  FUZZ_CHECK(first->entries.size() == (countValid ? static_cast<std::size_t>(first->count) : 0u),
             "entries follow the count");
  if (!WriteSetupFile(Written().Path(), first->rate, first->runMode, first->genlock,
                      first->entries))
    return 0;
  const std::string written = Contents(Written().Path());

  const auto second = ReadSetupFile(Written().Path());
  FUZZ_CHECK(second.has_value(), "a written setup reads");
  FUZZ_CHECK(second->version == kSetupFileVersion, "written with the current version");
  FUZZ_CHECK(second->count == static_cast<std::int32_t>(first->entries.size()),
             "count read back");
  FUZZ_CHECK(second->rate == first->rate && second->runMode == first->runMode &&
                 second->genlock == first->genlock,
             "settings read back");
  FUZZ_CHECK(std::equal(first->entries.begin(), first->entries.end(), second->entries.begin(),
                        second->entries.end(), SameEntry),
             "amplifiers read back");

  FUZZ_CHECK(WriteSetupFile(Written().Path(), second->rate, second->runMode, second->genlock,
                            second->entries),
             "a setup read back writes again");
  FUZZ_CHECK(Contents(Written().Path()) == written, "writing what was read back changes nothing");
  return 0;
}
