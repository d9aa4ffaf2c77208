// The control thread's parts on their own: the platform order, the bring-up's progress, the stop
// acknowledgements, the saved setup's state and the smart-plate decisions.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/control/bring_up_tracker.h"
#include "driver/control/data_ready_notifier.h"
#include "driver/control/message_numbers.h"
#include "driver/control/setup_state.h"
#include "driver/control/slot_order.h"
#include "driver/control/slot_records.h"
#include "driver/control/smart_plate_check.h"
#include "driver/control/stop_tracker.h"
#include "driver/device/download_status.h"
#include "driver/device/parameter_rules.h"
#include "platform/thread_messages.h"
#include "platform/window_target.h"
#include "tests/support/scratch_directory.h"

namespace torva {
namespace {

std::vector<int> FirstSlots(const SlotOrder& order, int count) {
  return std::vector<int>(order.Slots().begin(), order.Slots().begin() + count);
}

TEST(SlotOrderTest, AReorderThatIsNotAPermutationChangesNothing) {
  SlotOrder order;
  order.Identity(3);
  const int outOfRange[] = {0, 1, 3};
  const int repeated[] = {2, 2, 0};
  const int negative[] = {-1, 0, 1};
  for (const int* positions : {outOfRange, repeated, negative}) {
    EXPECT_FALSE(order.Reorder(positions, 3));
    EXPECT_EQ(FirstSlots(order, 3), (std::vector<int>{0, 1, 2}));
  }
  const int rotate[] = {2, 0, 1};
  ASSERT_TRUE(order.Reorder(rotate, 3));
  ASSERT_TRUE(order.Reorder(rotate, 3));  // applied to the order as it now stands
  EXPECT_EQ(FirstSlots(order, 3), (std::vector<int>{1, 2, 0}));
}

TEST(SlotOrderTest, PositionsFollowTheFirstPositionNamingEachSlot) {
  SlotOrder order;
  const int adopted[] = {2, 0, 2, 7};
  order.Adopt(adopted, 4);
  order.UpdatePositions(3);  // position 3 lies beyond the count and names nothing
  EXPECT_EQ(order.Positions()[2], 0);
  EXPECT_EQ(order.Positions()[0], 1);
  EXPECT_EQ(order.Positions()[7], 0);
  EXPECT_EQ(order.PositionOf(0, 3), 1);
  EXPECT_EQ(order.PositionOf(7, 3), 0);
  EXPECT_EQ(order.SlotAt(2, 3), 2);
  EXPECT_EQ(order.SlotAt(3, 3), -1);
  EXPECT_EQ(order.SlotAt(-1, 3), -1);
  order.Clear();
  EXPECT_EQ(order.SlotAt(0, 3), -1);
}

TEST(BringUpTrackerTest, OnlyAnAnswerFromEveryAmplifierCompletesTheReading) {
  BringUpTracker progress;
  progress.BeginReading();
  EXPECT_TRUE(progress.Waiting());
  progress.ParametersArrived(0);
  progress.ParametersArrived(0);  // one amplifier answering twice is not two answers
  EXPECT_EQ(progress.ParameterReplies(), 2);
  EXPECT_FALSE(progress.EveryAmplifierAnswered(2));
  progress.ParametersArrived(1);
  EXPECT_TRUE(progress.EveryAmplifierAnswered(2));
  EXPECT_TRUE(progress.TakeSmartPlateCheck());
  EXPECT_FALSE(progress.TakeSmartPlateCheck());

  // A bring-up leaves its completion to the setup check; a refresh completes at once.
  EXPECT_FALSE(progress.FinishReading());
  EXPECT_FALSE(progress.Waiting());
  EXPECT_EQ(progress.InitState(), kDeviceInitInProgress);
  progress.BeginRefresh();
  progress.BeginReading();
  EXPECT_FALSE(progress.EveryAmplifierAnswered(1));  // answers of the last reading are forgotten
  EXPECT_EQ(progress.RefreshComplete(), 0);
  EXPECT_TRUE(progress.FinishReading());
  EXPECT_EQ(progress.RefreshComplete(), 1);
  EXPECT_EQ(progress.InitState(), kDeviceInitComplete);
  EXPECT_FALSE(progress.FinishReading());  // the next reading is a bring-up again
}

TEST(BringUpTrackerTest, ANewBringUpWaitsForTheLastDeviceThreadUnlessAskedDirectly) {
  BringUpTracker progress;
  EXPECT_FALSE(progress.ThreadEnded(2, false));
  EXPECT_TRUE(progress.ThreadEnded(2, false));
  progress.ClearEndedThreads();
  EXPECT_TRUE(progress.ThreadEnded(2, true));
}

TEST(StopTrackerTest, TheFlagWaitsForEveryOrderedAmplifierAndAStartClearsIt) {
  StopTracker stops;
  std::array<int, kMaxAmplifiers> order{};
  order.fill(-1);
  order[0] = 3;
  order[1] = 1;
  order[2] = -1;  // an empty position needs no acknowledgement
  EXPECT_EQ(stops.Flag(order, 3), 0);  // no stop broadcast yet
  stops.BeginStop();
  stops.AlreadyStopped(1u << 1);
  EXPECT_EQ(stops.Flag(order, 3), 0);
  stops.Acknowledge(3);
  EXPECT_EQ(stops.Flag(order, 3), 1);
  EXPECT_EQ(stops.ReplyCount(), 1);
  stops.BeginStart();
  EXPECT_EQ(stops.Flag(order, 3), 0);
  stops.BeginStop();
  stops.Lost(3);
  stops.Acknowledge(1);
  EXPECT_EQ(stops.Flag(order, 3), 1);
  stops.ClearReplyCount();
  EXPECT_EQ(stops.ReplyCount(), 0);
}

TEST(SlotRecordTableTest, ASlotWithoutRecordsIsAbsentForEveryMemberAndAllocationZeroes) {
  SlotRecordTable records;
  AmplifierParameterBlock parameters{};
  for (int slot : {-1, 0, kMaxAmplifiers}) {
    EXPECT_FALSE(records.CopyParameters(slot, parameters));
    EXPECT_FALSE(records.Edit(slot, [](AmplifierParameterBlock&, DeviceRuntimeBlock&) {}));
    EXPECT_EQ(records.PacketSize(slot), 0);
    EXPECT_EQ(records.AmplifierSerial(slot), "");
  }
  records.Allocate(1);
  records.SetPacketSize(1, 512);
  records.Edit(1, [](AmplifierParameterBlock& block, DeviceRuntimeBlock&) {
    std::memset(block.amplifierSerial, 'S', sizeof block.amplifierSerial);  // no NUL when full
  });
  EXPECT_EQ(records.PacketSize(1), 512);
  EXPECT_EQ(records.AmplifierSerial(1), std::string(sizeof parameters.amplifierSerial, 'S'));
  records.Allocate(1);  // a new bring-up starts from zero
  EXPECT_EQ(records.PacketSize(1), 0);
  records.FreeAll();
  EXPECT_FALSE(records.CopyParameters(1, parameters));
}

TEST(DataReadyNotifierTest, FramesAreAnnouncedToTheLatestTargetOnlyWhileTheFlagIsSet) {
  DataReadyNotifier notifier;
  platform::Message message{};
  while (platform::PeekMessage(message, true)) {
  }
  notifier.NotifyThread(platform::CurrentThreadId());
  notifier.Notify(7);  // the flag is off
  EXPECT_FALSE(platform::PeekMessage(message, true));
  notifier.SetFlag(5);
  notifier.Notify(7);
  ASSERT_TRUE(platform::PeekMessage(message, true));
  EXPECT_EQ(message.message, kMsgDataReadyThread);
  EXPECT_EQ(message.wParam, 7u);

  const platform::WindowHandle window = platform::CreateWindowTarget();
  notifier.NotifyWindow(window);
  notifier.Notify(9);
  EXPECT_FALSE(platform::PeekMessage(message, true));
  ASSERT_TRUE(platform::PeekWindowMessage(window, message));
  EXPECT_EQ(message.message, kMsgDataReadyWindow);
  EXPECT_EQ(message.wParam, 9u);
  platform::DestroyWindowTarget(window);
}

class SetupStateTest : public testing::ScratchDirectory {};

AmplifierParameterBlock Amplifier(const char* serial) {
  AmplifierParameterBlock parameters{};
  std::strncpy(parameters.amplifierSerial, serial, sizeof parameters.amplifierSerial);
  return parameters;
}

SerialField SerialOf(const char* serial) {
  SerialField field{};
  std::strncpy(field.data(), serial, field.size());
  return field;
}

TEST_F(SetupStateTest, ASavedSetupIsWhatTheNextLibraryAndTheNextCheckCompareWith) {
  Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path(""));
  SetupState setup;
  EXPECT_FALSE(setup.ConfigurationFound());
  EXPECT_EQ(setup.Check(1, {SerialOf("A")}, {0}).status, kSetupFileNotFound);
  EXPECT_EQ(setup.Status(), kSetupFileNotFound);

  AcquisitionSettings written;
  written.rate = 2000;
  ASSERT_TRUE(setup.Save(2, written, {Amplifier("B"), Amplifier("A")}));
  EXPECT_EQ(setup.Settings().savedCount, 2);

  SetupState reloaded;
  ASSERT_TRUE(reloaded.ConfigurationFound());
  EXPECT_EQ(reloaded.Settings().rate, 2000);
  const std::vector<SerialField> attached = {SerialOf("A"), SerialOf("B")};
  SetupCheck check = reloaded.Check(2, attached, {0, 1});
  EXPECT_EQ(check.status, kSetupMatches);
  EXPECT_EQ(check.order, (std::vector<int>{1, 0}));
  ASSERT_TRUE(reloaded.Save(2, written, {Amplifier("A"), Amplifier("B")}));
  check = reloaded.Check(2, attached, {1, 0});
  EXPECT_EQ(check.order, (std::vector<int>{0, 1}));
}

TEST_F(SetupStateTest, AFailedSaveKeepsTheSetupItHad) {
  std::filesystem::create_directories(Path("cfg/TorvaUsbSetup.cfg"));  // no file can go there
  Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path("cfg/"));
  SetupState setup;
  EXPECT_FALSE(setup.Save(1, AcquisitionSettings{}, {Amplifier("A")}));
  EXPECT_EQ(setup.Settings().savedCount, 0);
  std::array<int, kMaxAmplifiers> listed{};
  listed[0] = 4;
  listed[1] = 2;
  setup.SetCheckList(listed, 2);
  int out[kMaxAmplifiers] = {};
  EXPECT_EQ(setup.CopyCheckList(out), 2);
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(setup.CopyCheckList(nullptr), 2);
}

TEST(SmartPlateCheckTest, TheStatusAndTheFileDecideWhatHappensToAPlate) {
  using Step = SmartPlatePlan::Step;
  AmplifierParameterBlock plate{};
  plate.productType = kSmartPlateType300;
  std::strncpy(plate.platformSerial, "P1", sizeof plate.platformSerial);
  const std::optional<std::string> none;
  const std::optional<std::string> empty = std::string("/nonexistent/");

  plate.smartPlateStatus = 2;  // plate fault
  EXPECT_EQ(PlanSmartPlate(plate, empty).step, Step::kListFault);
  plate.smartPlateStatus = 3;  // calibration missing, and no file to send
  EXPECT_EQ(PlanSmartPlate(plate, none).step, Step::kListFileProblem);
  EXPECT_EQ(PlanSmartPlate(plate, empty).step, Step::kListFileProblem);
  plate.smartPlateStatus = 1;
  EXPECT_EQ(PlanSmartPlate(plate, empty).step, Step::kNothing);

  std::string path;
  EXPECT_EQ(PlanRequestedDownload(plate, empty, path), kDownloadNoCalibrationFile);
  plate.productType = 100;
  plate.smartPlateStatus = 3;
  EXPECT_EQ(PlanSmartPlate(plate, empty).step, Step::kNothing);  // not a smart plate
  EXPECT_EQ(PlanRequestedDownload(plate, empty, path), kDownloadNotASmartPlate);
  EXPECT_TRUE(path.empty());
}

}  // namespace
}  // namespace torva
