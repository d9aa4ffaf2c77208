#include "driver/control/setup_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <locale>
#include <string>
#include <vector>

#include "tests/support/fifo_reader_guard.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/setup_fields.h"

namespace torva {
namespace {

using testing::Fill;
using testing::SameEntry;
using testing::Saved;
using testing::Text;

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// Numbers grouped by thousands with ',' as some user locales do.
class GroupingNumbers : public std::numpunct<char> {
 protected:
  char do_thousands_sep() const override { return ','; }
  std::string do_grouping() const override { return "\3"; }
};

class SetupFileTest : public testing::ScratchDirectory {
 protected:
  std::string File() const { return Path(kSetupFileName); }
  SavedSetup Read(const std::string& bytes) {
    WriteFile(File(), bytes);
    std::optional<SavedSetup> setup = ReadSetupFile(File());
    EXPECT_TRUE(setup.has_value());
    return setup.value_or(SavedSetup{});
  }
};

// --- Writing and reading back -------------------------------------------------------------------

TEST_F(SetupFileTest, ThreeAmplifiersGiveFivePlusTwelveCrLfLines) {
  const std::vector<SavedAmplifier> entries = {Saved("B-200", "AMP-6", "PB", "MODEL-B"),
                                               Saved("A-100", "AMP-6", "PA", "MODEL-A"),
                                               Saved("C-300", "AMP-7", "PC", "MODEL-C")};
  ASSERT_TRUE(WriteSetupFile(File(), 500, 2, 1, entries));

  EXPECT_EQ(ReadFile(File()),
            "101\r\n3\r\n500\r\n2\r\n1\r\n"
            "B-200\r\nAMP-6\r\nPB\r\nMODEL-B\r\n"
            "A-100\r\nAMP-6\r\nPA\r\nMODEL-A\r\n"
            "C-300\r\nAMP-7\r\nPC\r\nMODEL-C\r\n");

  const std::optional<SavedSetup> setup = ReadSetupFile(File());
  ASSERT_TRUE(setup.has_value());
  EXPECT_EQ(setup->version, kSetupFileVersion);
  EXPECT_EQ(setup->count, 3);
  EXPECT_EQ(setup->rate, 500);
  EXPECT_EQ(setup->runMode, 2);
  EXPECT_EQ(setup->genlock, 1);
  ASSERT_EQ(setup->entries.size(), entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k)
    EXPECT_TRUE(SameEntry(setup->entries[k], entries[k])) << "entry " << k;
}

TEST_F(SetupFileTest, ValuesThatFillTheirFieldsSurviveWriteAndRead) {
  const SavedAmplifier full = Saved("0123456789ABCDEF", "MODEL-0123456789", "PLATE-SERIAL-16C",
                                    "PLATFORM-MODEL-OF-28-CHARS-X");
  ASSERT_EQ(std::string(full.platformModel, sizeof(full.platformModel)),
            "PLATFORM-MODEL-OF-28-CHARS-X");
  ASSERT_TRUE(WriteSetupFile(File(), 1000, 0, 0, {full, Saved("NEXT")}));

  const std::optional<SavedSetup> setup = ReadSetupFile(File());
  ASSERT_TRUE(setup.has_value());
  ASSERT_EQ(setup->entries.size(), 2u);
  EXPECT_TRUE(SameEntry(setup->entries[0], full));
  EXPECT_TRUE(SameEntry(setup->entries[1], Saved("NEXT")));
}

TEST_F(SetupFileTest, WrittenTextEndsAtNulOrLineBreak) {
  SavedAmplifier entry = Saved("SERIAL");
  Fill(entry.amplifierModel, std::string("TWO\nLINES"));
  Fill(entry.platformSerial, std::string("CR\rHERE"));
  ASSERT_TRUE(WriteSetupFile(File(), 1000, 0, 0, {entry, Saved("NEXT")}));

  const std::string bytes = ReadFile(File());
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 5 + 2 * 4);
  const SavedSetup setup = Read(bytes);
  ASSERT_EQ(setup.entries.size(), 2u);
  EXPECT_EQ(Text(setup.entries[0].amplifierModel), "TWO");
  EXPECT_EQ(Text(setup.entries[0].platformSerial), "CR");
  EXPECT_EQ(Text(setup.entries[0].platformModel), "PLATE-600");
  EXPECT_EQ(Text(setup.entries[1].amplifierSerial), "NEXT");
}

TEST_F(SetupFileTest, NoAmplifiersWritesTheFiveHeaderLines) {
  ASSERT_TRUE(WriteSetupFile(File(), 1000, 0, 0, {}));
  EXPECT_EQ(ReadFile(File()), "101\r\n0\r\n1000\r\n0\r\n0\r\n");
  const SavedSetup setup = Read(ReadFile(File()));
  EXPECT_EQ(setup.count, 0);
  EXPECT_TRUE(setup.entries.empty());
}

TEST_F(SetupFileTest, MoreAmplifiersThanTheLibraryServesAreNotWritten) {
  const std::vector<SavedAmplifier> entries(26, Saved("X"));
  EXPECT_FALSE(WriteSetupFile(File(), 1000, 0, 0, entries));
  EXPECT_FALSE(std::filesystem::exists(File()));
}

TEST_F(SetupFileTest, AWriteThatFailsPartWayKeepsTheSavedSetup) {
  const std::string saved = "101\r\n1\r\n1000\r\n0\r\n0\r\nA\r\nM\r\nP\r\nPM\r\n";
  WriteFile(File(), saved);
  const std::vector<SavedAmplifier> entries(3, Saved("SERIAL-NUMBER"));
  bool written = true;
  {
    testing::FileSizeLimit limit(saved.size() + 8);  // the new setup needs more than that
    ASSERT_TRUE(limit.Applied());
    written = WriteSetupFile(File(), 1000, 0, 0, entries);
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFile(File()), saved);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_),
                          std::filesystem::directory_iterator()),
            1);  // the setup alone: no temporary file left
}

TEST_F(SetupFileTest, AFileThatCannotBeCreatedFails) {
  EXPECT_FALSE(WriteSetupFile(Path("missing-directory/") + kSetupFileName, 1000, 0, 0, {}));
}

TEST_F(SetupFileTest, NumbersAreWrittenAndReadPlainInAnyLocale) {
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new GroupingNumbers));
  const bool written = WriteSetupFile(File(), 2000, 0, 0, {});
  const std::optional<SavedSetup> setup = ReadSetupFile(File());
  std::locale::global(previous);

  ASSERT_TRUE(written);
  EXPECT_EQ(ReadFile(File()), "101\r\n0\r\n2000\r\n0\r\n0\r\n");
  ASSERT_TRUE(setup.has_value());
  EXPECT_EQ(setup->rate, 2000);
}

// --- Reading ------------------------------------------------------------------------------------

TEST_F(SetupFileTest, AMissingFileOrOneThatCannotBeReadIsNotFound) {
  EXPECT_FALSE(ReadSetupFile(File()).has_value());

  std::filesystem::create_directories(File());
  EXPECT_FALSE(ReadSetupFile(File()).has_value());
  std::filesystem::remove(File());

  ASSERT_TRUE(testing::MakeFifo(File()));
  std::optional<SavedSetup> fromFifo;
  EXPECT_TRUE(testing::ReturnsWithoutAWriter(File(), [&] { fromFifo = ReadSetupFile(File()); }));
  EXPECT_FALSE(fromFifo.has_value());
}

TEST_F(SetupFileTest, LineFeedOnlyFilesReadLikeCrLfFiles) {
  const std::string crLf =
      "101\r\n2\r\n250\r\n1\r\n2\r\n"
      "0123456789ABCDEF\r\nAMP\r\nPS\r\nPLATFORM-MODEL-OF-28-CHARS-X\r\n"
      "S2\r\nAMP\r\nPS2\r\nPM2\r\n";
  const SavedSetup withCrLf = Read(crLf);
  const SavedSetup withLf = Read(WithoutCarriageReturns(crLf));

  ASSERT_EQ(withCrLf.entries.size(), 2u);
  ASSERT_EQ(withLf.entries.size(), 2u);
  EXPECT_EQ(withLf.rate, 250);
  EXPECT_EQ(withLf.genlock, 2);
  for (std::size_t k = 0; k < 2; ++k)
    EXPECT_TRUE(SameEntry(withCrLf.entries[k], withLf.entries[k])) << "entry " << k;
  EXPECT_EQ(Text(withCrLf.entries[1].amplifierSerial), "S2");  // no CR kept in a field
  EXPECT_EQ(Text(withCrLf.entries[1].platformModel), "PM2");
}

TEST_F(SetupFileTest, OverlongValuesAreCutWithoutShiftingLaterFields) {
  const SavedSetup setup = Read(
      "101\r\n2\r\n1000\r\n0\r\n0\r\n"
      "SERIAL-LONGER-THAN-16\r\nAMP\r\nPS\r\nPLATFORM-MODEL-LONGER-THAN-28-CHARS\r\n"
      "S2\r\nAMP2\r\nPS2\r\nPM2\r\n");
  ASSERT_EQ(setup.entries.size(), 2u);
  EXPECT_EQ(std::string(setup.entries[0].amplifierSerial, kSerialFieldBytes), "SERIAL-LONGER-TH");
  EXPECT_EQ(Text(setup.entries[0].amplifierModel), "AMP");
  EXPECT_EQ(std::string(setup.entries[0].platformModel, kPlatformModelFieldBytes),
            "PLATFORM-MODEL-LONGER-THAN-2");
  EXPECT_TRUE(SameEntry(setup.entries[1], Saved("S2", "AMP2", "PS2", "PM2")));
}

TEST_F(SetupFileTest, ACountOutsideTheValidRangeIsKeptButReadsNoEntries) {
  for (const char* count : {"30", "-1", "2147483647"}) {
    const SavedSetup setup =
        Read(std::string("101\r\n") + count + "\r\n1000\r\n0\r\n0\r\nA\r\nM\r\nP\r\nPM\r\n");
    EXPECT_EQ(std::to_string(setup.count), count);
    EXPECT_TRUE(setup.entries.empty()) << count;
  }
}

TEST_F(SetupFileTest, FewerLinesThanTheCountLeaveTheRemainingEntriesEmpty) {
  const SavedSetup setup = Read("101\r\n3\r\n1000\r\n0\r\n0\r\nA\r\nAMP\r\nPA\r\nPMA\r\nB\r\nAMP");
  EXPECT_EQ(setup.count, 3);
  ASSERT_EQ(setup.entries.size(), 3u);
  EXPECT_TRUE(SameEntry(setup.entries[0], Saved("A", "AMP", "PA", "PMA")));
  EXPECT_TRUE(SameEntry(setup.entries[1], Saved("B", "AMP", "", "")));
  EXPECT_TRUE(SameEntry(setup.entries[2], SavedAmplifier{}));
}

TEST_F(SetupFileTest, AnEmptyFileKeepsTheDefaults) {
  const SavedSetup setup = Read("");
  EXPECT_EQ(setup.version, 0);
  EXPECT_EQ(setup.count, 0);
  EXPECT_EQ(setup.rate, kDefaultAcquisitionRate);
  EXPECT_EQ(setup.runMode, 0);
  EXPECT_EQ(setup.genlock, 0);
  EXPECT_TRUE(setup.entries.empty());
}

TEST_F(SetupFileTest, AnUnreadableNumberStopsTheHeaderAndTheEntriesStayEmpty) {
  const SavedSetup setup = Read("101\r\n2\r\nfast\r\n0\r\n0\r\nA\r\nM\r\nP\r\nPM\r\n");
  EXPECT_EQ(setup.version, kSetupFileVersion);
  EXPECT_EQ(setup.count, 2);
  EXPECT_EQ(setup.rate, kDefaultAcquisitionRate);
  ASSERT_EQ(setup.entries.size(), 2u);
  EXPECT_TRUE(SameEntry(setup.entries[0], SavedAmplifier{}));
}

TEST_F(SetupFileTest, HeaderNumbersMayShareALine) {
  const SavedSetup setup = Read("101 1 2000 3 1  \r\nA\r\nM\r\nP\r\nPM\r\n");
  EXPECT_EQ(setup.rate, 2000);
  EXPECT_EQ(setup.runMode, 3);
  ASSERT_EQ(setup.entries.size(), 1u);
  EXPECT_TRUE(SameEntry(setup.entries[0], Saved("A", "M", "P", "PM")));
}

}  // namespace
}  // namespace torva
