// What the detected plates allow together, and how a requested rate is reconciled with it.

#include "plugin/devices/rate_state.h"

#include <gtest/gtest.h>

namespace Torva {
namespace {

TEST(RateState, EachTypeRemovesItsRatesAndAnUnsupportedRecordKeepsItsPlaceWithoutALevel) {
  RateState state;
  EXPECT_EQ(state.AllowedRates().size(), 34u);
  EXPECT_TRUE(state.Add(300));
  EXPECT_FALSE(state.Add(0));  // parameters never read: unsupported, and resets nothing
  EXPECT_FALSE(state.Add(250));
  EXPECT_TRUE(state.Add(400));
  EXPECT_EQ(state.AllowedRates(),
            (std::vector<std::uint32_t>{1000, 600, 500, 300, 250, 200, 150, 125, 120, 100, 60, 50,
                                        30, 25, 15, 10}));
  EXPECT_EQ(state.TriggerLevel(0), 1);
  EXPECT_EQ(state.TriggerLevel(1), std::nullopt);
  EXPECT_EQ(state.TriggerLevel(2), std::nullopt);
  EXPECT_EQ(state.TriggerLevel(3), 0);  // the 400's own level, at its own record
  EXPECT_EQ(state.TriggerLevel(4), std::nullopt);
  state.Reset();
  EXPECT_EQ(state.AllowedRates().size(), 34u);
  EXPECT_EQ(state.Records(), 0u);
}

TEST(RateState, ARequestedRateGoesToTheNearestAllowedOneTiesToTheLower) {
  RateState state;
  ASSERT_TRUE(state.Add(300));
  const struct {
    std::uint32_t requested;
    std::uint32_t applied;
  } rows[] = {{2000, 1200}, {1100, 1000}, {5, 10}, {2500, 1200}, {1000, 1000},
              {1150, 1200}, {1050, 1000}, {11, 10}, {13, 15}};
  for (const auto& row : rows) EXPECT_EQ(state.Reconcile(row.requested), row.applied) << row.requested;
}

TEST(RateState, OnlyPlainDecimalTextsAreRates) {
  EXPECT_EQ(ParseRate("1000"), 1000u);
  EXPECT_EQ(ParseRate("4294967295"), 4294967295u);
  for (const char* bad : {"", "-5", "+5", " 10", "10 ", "1e3", "4294967296", "99999999999", "x"})
    EXPECT_EQ(ParseRate(bad), std::nullopt) << '"' << bad << '"';
}

}  // namespace
}  // namespace Torva
