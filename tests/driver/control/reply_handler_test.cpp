// Replies stored by the control thread: which bytes each reply code may change.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "driver/control/message_numbers.h"
#include "driver/control/thread_manager.h"
#include "sim/emulated_bus.h"
#include "tests/support/fake_sleep_clock.h"
#include "tests/support/scratch_directory.h"

namespace torva {
namespace {

constexpr int kSlot = 0;

// A reply ring entry: code in byte 1, status in byte 5, payload from byte 16.
std::vector<std::uint8_t> Reply(int code, std::size_t payloadBytes, std::uint8_t fill) {
  std::vector<std::uint8_t> entry(16 + payloadBytes, 0);
  entry[1] = static_cast<std::uint8_t>(code);
  entry[5] = 1;
  for (std::size_t i = 0; i < payloadBytes; ++i)
    entry[16 + i] = static_cast<std::uint8_t>(fill + i);
  return entry;
}

class ReplyHandler : public testing::ScratchDirectory {
 protected:
  void SetUp() override {
    ScratchDirectory::SetUp();
    Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path(""));
    control_ = std::make_unique<CThreadManager>();
    // The bring-up allocates the first slot's records even when no amplifier answers.
    sim::EmulatedBus::Instance().Install({});
    control_->BringUp(kBringUpDirect);
    ASSERT_TRUE(control_->Records().CopyParameters(kSlot, parametersBefore_));
    ASSERT_TRUE(control_->Records().CopyRuntime(kSlot, runtimeBefore_));
  }

  // Bytes of `after` that differ from `before`, as [first, last] offsets.
  template <typename Record>
  static std::vector<std::size_t> ChangedOffsets(const Record& before, const Record& after) {
    std::vector<std::size_t> changed;
    const auto* a = reinterpret_cast<const std::uint8_t*>(&before);
    const auto* b = reinterpret_cast<const std::uint8_t*>(&after);
    for (std::size_t i = 0; i < sizeof(Record); ++i)
      if (a[i] != b[i]) changed.push_back(i);
    return changed;
  }

  void Apply(const std::vector<std::uint8_t>& entry) {
    control_->ApplyReply(kSlot, entry.data());
    ASSERT_TRUE(control_->Records().CopyParameters(kSlot, parametersAfter_));
    ASSERT_TRUE(control_->Records().CopyRuntime(kSlot, runtimeAfter_));
  }

  void TearDown() override {
    sim::EmulatedBus::Instance().Reset();
    ScratchDirectory::TearDown();
  }

  testing::FakeSleepClock clock_;
  // Never started: the handlers run on the test thread.
  std::unique_ptr<CThreadManager> control_;
  AmplifierParameterBlock parametersBefore_{}, parametersAfter_{};
  DeviceRuntimeBlock runtimeBefore_{}, runtimeAfter_{};
};

TEST_F(ReplyHandler, ReadAllParametersReplacesTheWholeBlockAndIsCounted) {
  Apply(Reply(208, sizeof(AmplifierParameterBlock), 1));
  std::vector<std::uint8_t> expected = Reply(208, sizeof(AmplifierParameterBlock), 1);
  EXPECT_EQ(std::memcmp(&parametersAfter_, expected.data() + 16, sizeof parametersAfter_), 0);
  EXPECT_TRUE(ChangedOffsets(runtimeBefore_, runtimeAfter_).empty());
  EXPECT_EQ(control_->Progress().ParameterReplies(), 1);
}

TEST_F(ReplyHandler, TareChangesOnlyTheTareValuesAndItsFlag) {
  Apply(Reply(245, 24, 0x40));
  EXPECT_TRUE(ChangedOffsets(parametersBefore_, parametersAfter_).empty());
  for (std::size_t offset : ChangedOffsets(runtimeBefore_, runtimeAfter_)) {
    const bool inTare = offset >= offsetof(DeviceRuntimeBlock, tareValues) &&
                        offset < offsetof(DeviceRuntimeBlock, tareValues) + 24;
    const bool inFlag = offset >= offsetof(DeviceRuntimeBlock, tareValid) &&
                        offset < offsetof(DeviceRuntimeBlock, tareValid) + 4;
    EXPECT_TRUE(inTare || inFlag) << "byte " << offset;
  }
  EXPECT_EQ(runtimeAfter_.tareValid, 1);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(runtimeAfter_.tareValues)[0], 0x40);
}

struct RangeCase {
  int code;
  std::size_t parameterOffset;  // where the payload lands in the parameter block
  std::size_t bytes;
  std::int32_t DeviceRuntimeBlock::*flag;
};

TEST_F(ReplyHandler, LimitsAndDownloadStatusLandAtTheirOffsetsAndSetTheirFlags) {
  const RangeCase cases[] = {
      {240, 552, 48, &DeviceRuntimeBlock::mechanicalLimitsValid},
      {246, 672, 48, &DeviceRuntimeBlock::analogLimitsValid},
      {247, 804, 16, &DeviceRuntimeBlock::downloadStatusValid},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(control_->Records().CopyParameters(kSlot, parametersBefore_));
    Apply(Reply(c.code, c.bytes, 0x11));
    for (std::size_t offset : ChangedOffsets(parametersBefore_, parametersAfter_)) {
      EXPECT_GE(offset, c.parameterOffset);
      EXPECT_LT(offset, c.parameterOffset + c.bytes);
    }
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(&parametersAfter_)[c.parameterOffset], 0x11);
    EXPECT_EQ(runtimeAfter_.*c.flag, 1);
  }
}

TEST_F(ReplyHandler, AutozeroPotsGoToTheRuntimeBlock) {
  Apply(Reply(244, 24, 0x21));
  EXPECT_TRUE(ChangedOffsets(parametersBefore_, parametersAfter_).empty());
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(runtimeAfter_.autozeroPots)[0], 0x21);
  EXPECT_EQ(runtimeAfter_.autozeroValid, 1);
}

TEST_F(ReplyHandler, StopRepliesAreCountedAndOtherCodesIgnored) {
  Apply(Reply(179, 0, 0));
  Apply(Reply(179, 0, 0));
  EXPECT_EQ(control_->Stops().ReplyCount(), 2);
  Apply(Reply(195, 48, 0x33));
  Apply(Reply(0, 48, 0x33));
  EXPECT_TRUE(ChangedOffsets(parametersBefore_, parametersAfter_).empty());
  EXPECT_TRUE(ChangedOffsets(runtimeBefore_, runtimeAfter_).empty());
}

TEST_F(ReplyHandler, RepliesForSlotsWithoutRecordsOrOutOfRangeAreDropped) {
  std::vector<std::uint8_t> entry = Reply(208, sizeof(AmplifierParameterBlock), 1);
  control_->ApplyReply(3, entry.data());
  control_->ApplyReply(-1, entry.data());
  control_->ApplyReply(kMaxAmplifiers, entry.data());
  control_->ApplyReply(kSlot, nullptr);
  EXPECT_EQ(control_->Progress().ParameterReplies(), 0);
}

}  // namespace
}  // namespace torva
