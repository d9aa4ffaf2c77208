// libFuzzer target: any bytes as the machine-settings file. For every key and name the file seems
// to hold (section lines and "name=" starts, found loosely), what reads, written back, reads again
// the same and leaves every other value as it was; a new value written reads back as written.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/settings_store.h"
#include "tests/fuzz/fuzz_support.h"

using torva::platform::SettingsStore;

namespace {

// Candidates are a guess at what the file holds; the store decides what it does hold.
constexpr std::size_t kMaxCandidates = 8;

using Entry = std::pair<std::string, std::string>;  // key, name

std::vector<Entry> Candidates(const std::string& text) {
  std::vector<std::string> keys;
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < text.size() && keys.size() + names.size() < 2 * kMaxCandidates) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      keys.push_back(line.substr(1, line.size() - 2));
    } else if (const auto equals = line.find('='); equals != std::string::npos) {
      names.push_back(line.substr(0, equals));
    }
    start = end + 1;
  }
  std::vector<Entry> entries;
  for (const auto& key : keys)
    for (const auto& name : names)
      if (entries.size() < kMaxCandidates) entries.emplace_back(key, name);
  return entries;
}

std::map<Entry, std::optional<std::string>> Values(const SettingsStore& store,
                                                   const std::vector<Entry>& entries) {
  std::map<Entry, std::optional<std::string>> values;
  for (const auto& entry : entries) values[entry] = store.Read(entry.first, entry.second);
  return values;
}

const torva::fuzz::ScratchFile& Scratch() {
  static const torva::fuzz::ScratchFile file("settings");
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!torva::fuzz::WriteScratch(Scratch().Path(), data, size)) return 0;
  const SettingsStore store(Scratch().Path());
  const std::vector<Entry> entries = Candidates(std::string(reinterpret_cast<const char*>(data), size));
  const auto before = Values(store, entries);

  for (const auto& entry : entries) {
    const std::optional<std::string>& value = before.at(entry);
    if (!value) continue;
    if (!store.Write(entry.first, entry.second, *value)) continue;
    FUZZ_CHECK(Values(store, entries) == before, "writing back what was read changes no value");
  }

  // A new value under the first candidate: it reads back, and nothing else changes.
  if (entries.empty()) return 0;
  const Entry& first = entries.front();
  const std::string fresh = "fuzz-value";
  if (!store.Write(first.first, first.second, fresh)) return 0;
  auto expected = before;
  for (auto& [entry, value] : expected) {
    // Keys and names compare without regard to case: a candidate that names the same entry
    // sees the new value too.
    const auto current = store.Read(entry.first, entry.second);
    if (current == fresh && value != fresh) value = fresh;
  }
  FUZZ_CHECK(store.Read(first.first, first.second) == fresh, "a written value reads back");
  FUZZ_CHECK(Values(store, entries) == expected, "a write changes only its own entry");
  return 0;
}
