#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/control/error_record.h"

namespace torva {
namespace {

TEST(ErrorRecord, ComposesTheTextWithAndWithoutASerialNumber) {
  ErrorRecord record;
  EXPECT_EQ(record.Flag(), 0);
  record.Set("", "211", "Helix configuration file not found");
  EXPECT_EQ(record.Text(), " ErrorCode: 211 ErrorMessage: Helix configuration file not found");
  record.Set("A1234", "214", "Signal conditioner count does not match saved configuration");
  EXPECT_EQ(record.Text(),
            "SerialNumber: A1234 ErrorCode: 214 ErrorMessage: Signal conditioner count does not "
            "match saved configuration");
  EXPECT_EQ(record.Flag(), 1);
}

TEST(ErrorRecord, CopiesAll260BytesAndCutsLongTextsWithATerminator) {
  ErrorRecord record;
  record.Set("", "", std::string(400, 'm'));
  char out[kErrorTextBytes + 8];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(record.CopyTo(out), 1);
  EXPECT_EQ(out[kErrorTextBytes - 1], '\0');
  EXPECT_EQ(std::strlen(out), static_cast<std::size_t>(kErrorTextBytes - 1));
  EXPECT_EQ(out[kErrorTextBytes], 'x');  // nothing past the 260 bytes
  EXPECT_EQ(record.CopyTo(nullptr), 1);
}

}  // namespace
}  // namespace torva
