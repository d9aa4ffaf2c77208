// The loss of an amplifier as torvactl reads it from the library's error record.

#include "tools/torvactl/amplifier_loss.h"

#include <gtest/gtest.h>

namespace torvactl {
namespace {

TEST(AmplifierLossWatch, OnlyANewNoDeviceRecordIsALossAndNamesItsAmplifier) {
  const std::string lost =
      "SerialNumber: TA601202 ErrorCode: 4 ErrorMessage: The amplifier was disconnected.";
  const AmplifierLossWatch fresh("");
  EXPECT_EQ(fresh.Lost(lost), "TA601202");
  EXPECT_EQ(fresh.Lost(""), std::nullopt);
  // Another error (a setup mismatch, code 211), or one without a serial, is no loss.
  EXPECT_EQ(fresh.Lost("SerialNumber: TA601202 ErrorCode: 211 ErrorMessage: x"), std::nullopt);
  EXPECT_EQ(fresh.Lost("SerialNumber: TA601202 ErrorCode: 41 ErrorMessage: x"), std::nullopt);
  EXPECT_EQ(fresh.Lost(" ErrorCode: 4 ErrorMessage: x"), std::nullopt);
  // A loss the record already held before the run is not this run's.
  EXPECT_EQ(AmplifierLossWatch(lost).Lost(lost), std::nullopt);
}

}  // namespace
}  // namespace torvactl
