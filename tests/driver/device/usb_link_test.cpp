// The USB link against amplifiers on the emulated bus (the library's kernel-driver choice takes
// the emulator while it holds amplifiers): which amplifier an ordinal opens, the endpoint table,
// and the flags that the aborts and the quit leave behind.

#include "driver/device/usb_link.h"

#include <gtest/gtest.h>

#include "sim/emulated_bus.h"

namespace torva {
namespace {

class UsbLinkTest : public ::testing::Test {
 protected:
  void InstallTwo() {
    sim::EmulatedBus::Instance().Install(
        {sim::DescribeAmplifier(0, 100), sim::DescribeAmplifier(1, 100)});
  }
  void TearDown() override { sim::EmulatedBus::Instance().Reset(); }

  platform::CriticalSection lock_;
};

TEST_F(UsbLinkTest, AnOrdinalOpensThatAmplifierWithItsEndpointTable) {
  InstallTwo();
  UsbLink first(lock_);
  EXPECT_EQ(first.Open(0), UsbLink::OpenOutcome::kOpened);
  EXPECT_EQ(first.AmplifiersFound(), 2);  // counted by the first amplifier's link
  UsbLink second(lock_);
  EXPECT_EQ(second.Open(1), UsbLink::OpenOutcome::kOpened);
  EXPECT_NE(second.MatchedSerial(), first.MatchedSerial());
  ASSERT_TRUE(second.BuildEndpointTable());
  EndpointTable table{};
  ASSERT_TRUE(second.CopyEndpointTable(table));
  // Packed fields are copied before the test macros bind references to them.
  ASSERT_GT(std::int32_t{table.count}, 2);
  EXPECT_EQ(double{table.entries[0].kind}, static_cast<double>(EndpointKind::kControl));
  EXPECT_EQ(double{table.entries[2].kind}, static_cast<double>(EndpointKind::kBulkIn));
  UsbLink third(lock_);
  EXPECT_EQ(third.Open(2), UsbLink::OpenOutcome::kNotOpened);
  EXPECT_FALSE(third.IsOpen());
  EXPECT_FALSE(third.BuildEndpointTable());
}

TEST_F(UsbLinkTest, AbortsLeaveTheirRequestsAndTheQuitLetsGo) {
  InstallTwo();
  UsbLink link(lock_);
  ASSERT_EQ(link.Open(0), UsbLink::OpenOutcome::kOpened);
  link.AbortDataEndpoint();
  EXPECT_FALSE(link.DataResetPending());  // no data endpoint selected yet
  link.SelectEndpoints(2, 3, 1);
  ASSERT_NE(link.DataEndpoint(), nullptr);
  link.AbortDataEndpoint();
  EXPECT_TRUE(link.TakeDataResetPending());
  EXPECT_FALSE(link.TakeDataResetPending());
  EXPECT_TRUE(link.CurrentFrameNumber().has_value());
  EXPECT_FALSE(link.Ending());
  link.AbortTransfers();
  EXPECT_TRUE(link.Ending());
  link.Release();
  EXPECT_EQ(link.Control(), nullptr);
  EXPECT_FALSE(link.CurrentFrameNumber().has_value());
}

}  // namespace
}  // namespace torva
