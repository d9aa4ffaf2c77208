// The transfer record and the control request encoding.

#include <gtest/gtest.h>

#include "driver/usb/transfer_record.h"

namespace torva::usb {
namespace {

TEST(TransferRecord, ControlTimeoutsBecomeWholeSecondsButNeverZero) {
  EXPECT_EQ(ControlTimeoutSeconds(500), 1u);
  EXPECT_EQ(ControlTimeoutSeconds(1), 1u);
  EXPECT_EQ(ControlTimeoutSeconds(999), 1u);
  EXPECT_EQ(ControlTimeoutSeconds(1000), 1u);
  EXPECT_EQ(ControlTimeoutSeconds(1999), 1u);
  EXPECT_EQ(ControlTimeoutSeconds(10000), 10u);
  EXPECT_EQ(ControlTimeoutSeconds(0), 0u);
  EXPECT_EQ(ControlTimeoutSeconds(kInfiniteTimeout), 4294967u);
}

TEST(TransferRecord, TheTighterOfTheWaitAndTheRecordLimitsAControlRequest) {
  EXPECT_EQ(EffectiveControlTimeoutMs(500, 1), 500u);
  EXPECT_EQ(EffectiveControlTimeoutMs(1500, 1), 1000u);
  EXPECT_EQ(EffectiveControlTimeoutMs(kInfiniteTimeout, 10), 10000u);
  EXPECT_EQ(EffectiveControlTimeoutMs(kInfiniteTimeout, 0), kInfiniteTimeout);
  EXPECT_EQ(EffectiveControlTimeoutMs(20, 0), 20u);
  EXPECT_EQ(EffectiveControlTimeoutMs(kInfiniteTimeout, 4294967), 4294967000u);
}

TEST(TransferRecord, RequestTypeBitsAndEndpointDirection) {
  EXPECT_EQ(MakeRequestType(RequestDirection::kToDevice, RequestKind::kVendor,
                            RequestTarget::kDevice),
            0x40);
  EXPECT_EQ(MakeRequestType(RequestDirection::kFromDevice, RequestKind::kVendor,
                            RequestTarget::kDevice),
            0xC0);
  EXPECT_EQ(MakeRequestType(RequestDirection::kFromDevice, RequestKind::kStandard,
                            RequestTarget::kInterface),
            0x81);
  EXPECT_EQ(MakeRequestType(RequestDirection::kToDevice, RequestKind::kClass,
                            RequestTarget::kOther),
            0x23);
  EXPECT_TRUE(IsInEndpoint(0x82));
  EXPECT_FALSE(IsInEndpoint(0x02));
}

}  // namespace
}  // namespace torva::usb
