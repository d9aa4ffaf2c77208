// A platform-ordering run on its own: plates are ordered as they are loaded, each once, and the
// order the control thread adopts is always a whole permutation, whatever a cancel or a second
// start does in between.

#include <gtest/gtest.h>

#include <algorithm>

#include "driver/control/frame_assembler.h"
#include "driver/control/ordering_run.h"

namespace torva {
namespace {

auto NoTwin = [](int) { return false; };

// Loads the given slots one after the other; true when the last load completed the run.
bool LoadInTurn(OrderingRun& run, std::initializer_list<int> slots) {
  bool completed = false;
  for (int slot : slots) completed = run.Load(slot, true, NoTwin);
  return completed;
}

TEST(OrderingRun, PlatesAreOrderedAsLoadedOnceEachAndTheOrderIsAdoptedWithTheFormat) {
  OrderingRun run;
  run.Start(3, kFormatRows);
  EXPECT_TRUE(run.Active());
  EXPECT_FALSE(run.Load(2, false, NoTwin));  // below its threshold
  EXPECT_FALSE(LoadInTurn(run, {2, 2, 0}));  // slot 2 loaded again counts once
  EXPECT_FALSE(run.Complete());
  EXPECT_TRUE(run.Load(1, true, NoTwin));
  EXPECT_TRUE(run.Complete());
  EXPECT_FALSE(run.Active());

  const auto completion = run.TakeCompletion();
  ASSERT_TRUE(completion.has_value());
  EXPECT_EQ(completion->format, kFormatRows);
  EXPECT_EQ(std::vector<int>(completion->order.begin(), completion->order.begin() + 3),
            (std::vector<int>{2, 0, 1}));
  EXPECT_FALSE(run.TakeCompletion().has_value());  // adopted once
  EXPECT_TRUE(run.Complete());                     // and reads complete until the next run
}

TEST(OrderingRun, AnAmplifierAlreadyOrderedUnderAnotherSlotIsNotOrderedTwice) {
  OrderingRun run;
  run.Start(2, kFormatRecords);
  run.Load(0, true, NoTwin);
  EXPECT_FALSE(run.Load(1, true, [](int ordered) { return ordered == 0; }));
  EXPECT_FALSE(run.Complete());
}

TEST(OrderingRun, ACancelThatLosesOrWinsTheRaceNeverBreaksTheOrder) {
  // The cancel arrives after the run completed but before the control thread adopted its
  // order: nothing is adopted, the run is not complete, and the format comes back.
  OrderingRun cancelledFirst;
  cancelledFirst.Start(2, kFormatRecords);
  ASSERT_TRUE(LoadInTurn(cancelledFirst, {1, 0}));
  EXPECT_EQ(cancelledFirst.Cancel(), kFormatRecords);
  EXPECT_FALSE(cancelledFirst.TakeCompletion().has_value());
  EXPECT_FALSE(cancelledFirst.Complete());

  // The cancel comes after the adoption: the new order stands and the format is not touched
  // again (it was restored by the adoption).
  OrderingRun adoptedFirst;
  adoptedFirst.Start(2, kFormatRecords);
  ASSERT_TRUE(LoadInTurn(adoptedFirst, {1, 0}));
  ASSERT_TRUE(adoptedFirst.TakeCompletion().has_value());
  EXPECT_FALSE(adoptedFirst.Cancel().has_value());
  EXPECT_TRUE(adoptedFirst.Complete());

  // A cancel with no run restores nothing either.
  OrderingRun idle;
  EXPECT_FALSE(idle.Cancel().has_value());
}

TEST(OrderingRun, ASecondStartKeepsTheFormatFromBeforeTheFirst) {
  OrderingRun run;
  run.Start(2, kFormatRows);
  run.Start(2, kFormatChannels);  // the ordering format is in force by now
  ASSERT_TRUE(LoadInTurn(run, {0, 1}));
  EXPECT_EQ(run.TakeCompletion()->format, kFormatRows);

  // Also when the first run completed and was not adopted yet.
  OrderingRun restarted;
  restarted.Start(1, kFormatRecords);
  ASSERT_TRUE(restarted.Load(0, true, NoTwin));
  restarted.Start(1, kFormatChannels);
  EXPECT_EQ(restarted.Cancel(), kFormatRecords);
}

}  // namespace
}  // namespace torva
