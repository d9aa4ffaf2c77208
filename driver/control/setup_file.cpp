#include "driver/control/setup_file.h"

#include <algorithm>
#include <limits>
#include <locale>
#include <sstream>

#include "driver/control/control_limits.h"
#include "platform/file_replace.h"
#include "platform/regular_file_read.h"

namespace torva {
namespace {

constexpr const char* kLineEnd = "\r\n";

// Reads one line into a NUL-padded field. Characters beyond the field are skipped up to the line
// end, and a CR just before the line feed (or the end of the file) is not part of the value.
template <std::size_t Bytes>
void ReadField(std::istream& in, char (&field)[Bytes]) {
  std::size_t used = 0;
  const auto keep = [&](char c) {
    if (used < Bytes) field[used++] = c;
  };
  bool pendingCr = false;
  for (int c = in.get(); c != std::char_traits<char>::eof() && c != '\n'; c = in.get()) {
    if (pendingCr) keep('\r');
    pendingCr = c == '\r';
    if (!pendingCr) keep(static_cast<char>(c));
  }
}

// Reads whitespace-separated decimal numbers into `targets` in turn; false at the first one that is
// missing or unreadable (it and those after it keep their values).
template <std::size_t Count>
bool ReadNumbers(std::istream& in, std::int32_t* const (&targets)[Count]) {
  for (std::int32_t* target : targets) {
    std::int32_t value = 0;
    if (!(in >> value)) return false;
    *target = value;
  }
  return true;
}


}  // namespace

std::optional<SavedSetup> ReadSetupFile(const std::string& path) {
  const platform::FileRead file = platform::ReadRegularFile(path, kMaxSetupFileBytes);
  if (!file.Read()) return std::nullopt;
  std::istringstream in(file.bytes);
  in.imbue(std::locale::classic());  // plain decimal whatever the process's locale

  SavedSetup setup;
  const bool numbersRead =
      ReadNumbers(in, {&setup.version, &setup.count, &setup.rate, &setup.runMode, &setup.genlock});
  // A count outside the valid range is kept for the setup check to report, never allocated.
  if (setup.count < 0 || setup.count > kMaxAmplifiers) return setup;
  setup.entries.resize(static_cast<std::size_t>(setup.count), SavedAmplifier{});
  if (!numbersRead) return setup;

  in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');  // the rest of the genlock line
  for (SavedAmplifier& entry : setup.entries) {
    ReadField(in, entry.amplifierSerial);
    ReadField(in, entry.amplifierModel);
    ReadField(in, entry.platformSerial);
    ReadField(in, entry.platformModel);
  }
  return setup;
}

bool WriteSetupFile(const std::string& path, std::int32_t rate, std::int32_t runMode,
                    std::int32_t genlock, const std::vector<SavedAmplifier>& entries) {
  if (entries.size() > static_cast<std::size_t>(kMaxAmplifiers)) return false;
  std::ostringstream out;
  out.imbue(std::locale::classic());  // no digit grouping whatever the process's locale

  out << kSetupFileVersion << kLineEnd << entries.size() << kLineEnd << rate << kLineEnd << runMode
      << kLineEnd << genlock << kLineEnd;
  for (const SavedAmplifier& entry : entries) {
    out << FieldText(entry.amplifierSerial) << kLineEnd << FieldText(entry.amplifierModel)
        << kLineEnd << FieldText(entry.platformSerial) << kLineEnd << FieldText(entry.platformModel)
        << kLineEnd;
  }
  return platform::ReplaceFile(path, out.str());
}

}  // namespace torva
