// The shipped library's dynamic symbol table holds the fm functions of the export list and
// nothing else.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>

namespace {

std::set<std::string> ExportList() {
  std::set<std::string> names;
  std::ifstream in(TORVA_EXPORT_NAMES_PATH);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.insert(line);
  return names;
}

std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
  std::set<std::string> names;
  const std::string command = "nm -D --defined-only '" + library + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::string text(line);
    const auto space = text.find_last_of(' ');
    std::string name = text.substr(space + 1);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    names.insert(name);
  }
  return names;
}

TEST(ExportTable, TheListHas127Names) { EXPECT_EQ(ExportList().size(), 127u); }

TEST(ExportTable, ExactlyTheListedFunctionsAreExported) {
  const std::set<std::string> listed = ExportList();
  const std::set<std::string> exported = DefinedDynamicSymbols(TORVA_DRIVER_LIBRARY_PATH);
  for (const std::string& name : exported) EXPECT_TRUE(listed.count(name)) << "extra: " << name;
  for (const std::string& name : listed) EXPECT_TRUE(exported.count(name)) << "missing: " << name;
}

}  // namespace
