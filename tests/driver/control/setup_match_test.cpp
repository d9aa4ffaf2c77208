#include "driver/control/setup_match.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/setup_fields.h"

namespace torva {
namespace {

using testing::Saved;
using testing::Serial;

SavedSetup SavedOf(const std::vector<std::string>& serials) {
  SavedSetup setup;
  setup.version = kSetupFileVersion;
  setup.count = static_cast<std::int32_t>(serials.size());
  for (const std::string& serial : serials) setup.entries.push_back(Saved(serial));
  return setup;
}

std::vector<SerialField> Attached(const std::vector<std::string>& serials) {
  std::vector<SerialField> fields;
  for (const std::string& serial : serials) fields.push_back(Serial(serial));
  return fields;
}

std::vector<int> Identity(int n) {
  std::vector<int> order;
  for (int slot = 0; slot < n; ++slot) order.push_back(slot);
  return order;
}

// --- Matching and the new order -----------------------------------------------------------------

TEST(SetupMatchTest, AnExactMatchAdoptsTheSavedOrder) {
  const SetupMatch match = MatchSavedSetup(SavedOf({"B", "A"}), 2, Attached({"A", "B"}), {0, 1});
  EXPECT_EQ(match.result, SetupMatchResult::kMatches);
  EXPECT_EQ(match.order, (std::vector<int>{1, 0}));
}

TEST(SetupMatchTest, AnExtraAmplifierFollowsTheSavedOnesAndDiffers) {
  const SetupMatch match =
      MatchSavedSetup(SavedOf({"B", "A"}), 3, Attached({"A", "B", "C"}), Identity(3));
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
  EXPECT_EQ(match.order, (std::vector<int>{1, 0, 2}));
}

TEST(SetupMatchTest, UnsavedAmplifiersKeepTheirPreviousOrder) {
  const SetupMatch match =
      MatchSavedSetup(SavedOf({"C"}), 4, Attached({"A", "B", "C", "D"}), {3, 2, 1, 0});
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
  EXPECT_EQ(match.order, (std::vector<int>{2, 3, 1, 0}));
}

TEST(SetupMatchTest, FewerAttachedThanSavedIsReportedAsSuch) {
  const SetupMatch match =
      MatchSavedSetup(SavedOf({"A", "B", "C"}), 2, Attached({"A", "B"}), Identity(2));
  EXPECT_EQ(match.result, SetupMatchResult::kFewerAttached);
  EXPECT_EQ(match.order, (std::vector<int>{0, 1}));
}

TEST(SetupMatchTest, FewerAttachedWithAStrangerDiffers) {
  const SetupMatch match =
      MatchSavedSetup(SavedOf({"A", "B", "C"}), 2, Attached({"X", "B"}), Identity(2));
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
  EXPECT_EQ(match.order, (std::vector<int>{1, 0}));
}

TEST(SetupMatchTest, ACorruptCountKeepsTheOrderInSequence) {
  for (std::int32_t count : {30, 26, -1}) {
    SavedSetup saved = SavedOf({"B", "A"});
    saved.count = count;
    const SetupMatch match = MatchSavedSetup(saved, 3, Attached({"A", "B", "C"}), {2, 0, 1});
    EXPECT_EQ(match.result, SetupMatchResult::kCountCorrupt) << count;
    EXPECT_EQ(match.order, (std::vector<int>{2, 0, 1})) << count;
  }
}

TEST(SetupMatchTest, SerialsAreComparedOverAllSixteenBytes) {
  const SetupMatch match =
      MatchSavedSetup(SavedOf({"0123456789ABCDEF"}), 2,
                      Attached({"0123456789ABCDEX", "0123456789ABCDEF"}), Identity(2));
  EXPECT_EQ(match.order, (std::vector<int>{1, 0}));
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
}

TEST(SetupMatchTest, EntriesTheFileDidNotReachMatchNoAmplifier) {
  SavedSetup saved = SavedOf({"A"});
  saved.count = 2;
  saved.entries.push_back(SavedAmplifier{});  // what a short file leaves
  const SetupMatch match = MatchSavedSetup(saved, 2, Attached({"", "A"}), Identity(2));
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
  EXPECT_EQ(match.order, (std::vector<int>{1, 0}));
}

TEST(SetupMatchTest, ACountLargerThanTheEntriesHeldReadsOnlyTheEntries) {
  SavedSetup saved = SavedOf({"A"});
  saved.count = 5;
  const SetupMatch match = MatchSavedSetup(saved, 2, Attached({"B", "A"}), Identity(2));
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
  EXPECT_EQ(match.order, (std::vector<int>{1, 0}));
}

TEST(SetupMatchTest, ASavedCountOfZeroDiffersFromAttachedAmplifiers) {
  const SetupMatch match = MatchSavedSetup(SavedOf({}), 2, Attached({"A", "B"}), {1, 0});
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
  EXPECT_EQ(match.order, (std::vector<int>{1, 0}));
}

TEST(SetupMatchTest, TheNewOrderIsAlwaysAPermutationOfTheSlots) {
  const SetupMatch match =
      MatchSavedSetup(SavedOf({"Z"}), 4, Attached({"A", "B"}), {7, 1, 1, -1, 3});
  EXPECT_EQ(match.order, (std::vector<int>{1, 3, 0, 2}));
}

TEST(SetupMatchTest, ASerialSavedTwiceTakesItsSlotOnce) {
  const SetupMatch match = MatchSavedSetup(SavedOf({"A", "A"}), 2, Attached({"B", "A"}), {0, 1});
  EXPECT_EQ(match.result, SetupMatchResult::kDiffers);
  EXPECT_EQ(match.order, (std::vector<int>{1, 0}));
}

// --- Setup-check status and message -------------------------------------------------------------

TEST(SetupMatchStatusTest, NoAmplifiersComesFirst) {
  const SetupCheck check = CheckSetup(0, false, SavedSetup{}, {}, {});
  EXPECT_EQ(check.status, kNoAmplifiers);
  EXPECT_EQ(check.message, "No Helix's detected");
  EXPECT_TRUE(check.order.empty());
}

TEST(SetupMatchStatusTest, NoSavedSetupIsNotFound) {
  const SetupCheck check = CheckSetup(2, false, SavedOf({"B", "A"}), Attached({"A", "B"}), {0, 1});
  EXPECT_EQ(check.status, kSetupFileNotFound);
  EXPECT_EQ(check.status, 211);
  EXPECT_EQ(check.message, "Helix configuration file not found");
  EXPECT_EQ(check.order, (std::vector<int>{0, 1}));
}

TEST(SetupMatchStatusTest, AnotherVersionIsRefusedAndItsOrderIgnored) {
  SavedSetup saved = SavedOf({"B", "A"});
  saved.version = 100;
  const SetupCheck check = CheckSetup(2, true, saved, Attached({"A", "B"}), {0, 1});
  EXPECT_EQ(check.status, kSetupFileWrongVersion);
  EXPECT_EQ(check.status, 213);
  EXPECT_EQ(check.message, "Helix configuration file incorrect version");
  EXPECT_EQ(check.order, (std::vector<int>{0, 1}));
}

TEST(SetupMatchStatusTest, AnExactMatchIsStatusOneWithoutMessage) {
  const SetupCheck check =
      CheckSetup(3, true, SavedOf({"C", "A", "B"}), Attached({"A", "B", "C"}), Identity(3));
  EXPECT_EQ(check.status, kSetupMatches);
  EXPECT_TRUE(check.message.empty());
  EXPECT_EQ(check.order, (std::vector<int>{2, 0, 1}));
}

TEST(SetupMatchStatusTest, AnExtraAmplifierDoesNotMatch) {
  const SetupCheck check =
      CheckSetup(3, true, SavedOf({"B", "A"}), Attached({"A", "B", "C"}), Identity(3));
  EXPECT_EQ(check.status, kSetupMismatch);
  EXPECT_EQ(check.status, 214);
  EXPECT_EQ(check.message, "Signal conditioner count does not match saved configuration");
  EXPECT_EQ(check.order, (std::vector<int>{1, 0, 2}));
}

TEST(SetupMatchStatusTest, AMissingAmplifierDoesNotMatch) {
  const SetupCheck check =
      CheckSetup(2, true, SavedOf({"A", "B", "C"}), Attached({"A", "B"}), Identity(2));
  EXPECT_EQ(check.status, kSetupMismatch);
  EXPECT_EQ(check.message, "Signal conditioner count does not match saved configuration");
  EXPECT_EQ(check.order, (std::vector<int>{0, 1}));
}

TEST(SetupMatchStatusTest, ACorruptCountIsReportedAsCorrupt) {
  SavedSetup saved = SavedOf({"A", "B"});
  saved.count = 30;
  saved.entries.clear();
  const SetupCheck check = CheckSetup(2, true, saved, Attached({"B", "A"}), {1, 0});
  EXPECT_EQ(check.status, kSetupMismatch);
  EXPECT_EQ(check.message, "Configuration file amplifier count is corrupt");
  EXPECT_EQ(check.order, (std::vector<int>{1, 0}));
}

}  // namespace
}  // namespace torva
