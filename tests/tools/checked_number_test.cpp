// torvactl's strict reading of numbers: what it accepts, what it refuses and what it tells the user.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tools/torvactl/checked_number.h"
#include "tools/torvactl/command_line.h"

namespace torvactl {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const NumberRule kWhole{0, 3, true};
const NumberRule kAboveZero{0, 86400, false, true};
const NumberRule kBelowTurn{0, 360, false, false, true};

TEST(CheckedNumber, AcceptsOnlyWholeFiniteTextWithinTheRange) {
  struct Case {
    const NumberRule* rule;
    const char* text;
    bool accepted;
    const char* problem;  // part of the message when refused
  };
  const Case cases[] = {
      {&kWhole, "3", true, ""},
      {&kWhole, "0", true, ""},
      {&kWhole, "1x", false, "is not a whole number"},
      {&kWhole, "1.0", false, "is not a whole number"},
      {&kWhole, "1e0", false, "is not a whole number"},
      {&kWhole, " 1", false, "is not a whole number"},
      {&kWhole, "", false, "is not a whole number"},
      {&kWhole, "4", false, "is out of range"},
      {&kWhole, "-1", false, "is out of range"},
      {&kWhole, "99999999999999999999999", false, "is out of range"},
      {&kAboveZero, "0.5", true, ""},
      {&kAboveZero, "86400", true, ""},
      {&kAboveZero, "0", false, "is out of range"},
      {&kAboveZero, "-1", false, "is out of range"},
      {&kAboveZero, "1e10", false, "is out of range"},
      {&kAboveZero, "1e400", false, "is out of range"},
      {&kAboveZero, "nan", false, "is not a finite number"},
      {&kAboveZero, "inf", false, "is not a finite number"},
      {&kAboveZero, "-inf", false, "is not a finite number"},
      {&kAboveZero, "5s", false, "is not a number"},
      {&kAboveZero, "0x10", false, "is not a number"},
      {&kBelowTurn, "359.5", true, ""},
      {&kBelowTurn, "360", false, "is out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double value = -7;
    const std::string refusal = ReadNumber("--what", c.text, *c.rule, value);
    EXPECT_EQ(refusal.empty(), c.accepted) << refusal;
    if (c.accepted) {
      EXPECT_EQ(value, std::stod(c.text));
    } else {
      EXPECT_EQ(value, -7);  // left alone
      EXPECT_THAT(refusal, HasSubstr(std::string("'") + c.text + "' " + c.problem));
    }
  }
}

TEST(CheckedNumber, ChecksTheValueAsTheNarrowerTypeHoldsIt) {
  // Just below 360 as a double, exactly 360 as a float: an angle a full turn would treat as 0.
  float degrees = 1;
  EXPECT_FALSE(ReadNumber("degrees", "359.999999999", kBelowTurn, degrees).empty());
  EXPECT_EQ(degrees, 1.0f);
  int whole = 0;
  EXPECT_TRUE(ReadNumber("g0", "2", kWhole, whole).empty());
  EXPECT_EQ(whole, 2);
}

TEST(CheckedNumber, TheMessageNamesWhatTheTextAndWhatIsAllowed) {
  double seconds = 0;
  EXPECT_EQ(ReadNumber("--seconds", "1e10", kAboveZero, seconds),
            "--seconds '1e10' is out of range; allowed: a number above 0 and at most 86400");
  int gain = 0;
  EXPECT_EQ(ReadNumber("g1", "1x", kWhole, gain),
            "g1 '1x' is not a whole number; allowed: a whole number from 0 to 3");
  float degrees = 0;
  EXPECT_EQ(ReadNumber("degrees", "nan", kBelowTurn, degrees),
            "degrees 'nan' is not a finite number; allowed: a number from 0 and below 360");
}

// Options and positional arguments read through Boost.Program_options with the same rules.
TEST(CheckedNumber, CommandLinesRunOnlyWithValuesTheirRulesAllow) {
  struct Case {
    std::vector<std::string> arguments;
    std::optional<int> status;  // nothing: the command runs
    double seconds;
  };
  const Case cases[] = {
      {{}, std::nullopt, 5.0},  // the default
      {{"--seconds", "2.5"}, std::nullopt, 2.5},
      {{"--seconds", "nan"}, kUsageStatus, 0},
      {{"--seconds"}, kUsageStatus, 0},
      {{"--seconds", "1", "extra"}, kUsageStatus, 0},
      {{"--help"}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    double seconds = 0;
    boost::program_options::options_description description("test");
    description.add_options()(
        "seconds", NumberValue("--seconds", seconds, kAboveZero)->default_value("5"), "seconds");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const std::optional<int> status = ParseCommandLine(description, c.arguments);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status);
    if (!status) {
      EXPECT_EQ(seconds, c.seconds);
    }
    if (status == kUsageStatus) {
      EXPECT_THAT(err, HasSubstr("torvactl: "));
    }
  }

  PositionArguments parsed;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ParsePositionArguments("usage", {"25"}, 0, parsed), kUsageStatus);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("position '25' is out of range; allowed: a whole number from 0 to 24"));
  EXPECT_EQ(ParsePositionArguments("usage", {"3", "-1.5"}, 1, parsed), std::nullopt);
  EXPECT_EQ(parsed.position, 3);
  EXPECT_EQ(parsed.values, std::vector<std::string>{"-1.5"});
  // The positional arguments are named in the help's title, not offered as options.
  testing::internal::CaptureStdout();
  EXPECT_EQ(ParsePositionArguments("torvactl blink <position>", {"--help"}, 0, parsed), 0);
  const std::string help = testing::internal::GetCapturedStdout();
  EXPECT_THAT(help, HasSubstr("torvactl blink <position>"));
  EXPECT_THAT(help, Not(HasSubstr("--position")));
  EXPECT_THAT(help, Not(HasSubstr("--values")));
}

}  // namespace
}  // namespace torvactl
