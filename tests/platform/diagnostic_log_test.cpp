#include "platform/diagnostic_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace torva::platform {
namespace {

using ::testing::ContainsRegex;
using ::testing::IsEmpty;

// Reads TORVA_DEBUG again, as a fresh process would.
DiagnosticLevel LevelFromEnvironment(const char* value) {
  if (value == nullptr) {
    unsetenv("TORVA_DEBUG");
  } else {
    setenv("TORVA_DEBUG", value, 1);
  }
  detail::gDiagnosticLevel.store(-1);
  const auto level = static_cast<DiagnosticLevel>(detail::ReadDiagnosticLevelFromEnvironment());
  unsetenv("TORVA_DEBUG");
  return level;
}

TEST(DiagnosticLog, EnvironmentVariableSelectsTheLevelAndAnythingElseLeavesItOff) {
  EXPECT_EQ(LevelFromEnvironment(nullptr), DiagnosticLevel::kOff);
  EXPECT_EQ(LevelFromEnvironment("1"), DiagnosticLevel::kError);
  EXPECT_EQ(LevelFromEnvironment("2"), DiagnosticLevel::kWarning);
  EXPECT_EQ(LevelFromEnvironment("3"), DiagnosticLevel::kInfo);
  for (const char* ignored : {"", "0", "4", "33", "yes", "-1"}) {
    EXPECT_EQ(LevelFromEnvironment(ignored), DiagnosticLevel::kOff) << ignored;
  }
}

TEST(DiagnosticLog, LinesPassOnlyAtTheirLevelAndCarryTimeThreadAndPlace) {
  SetDiagnosticLevel(DiagnosticLevel::kWarning);
  ::testing::internal::CaptureStderr();
  TORVA_LOG_INFO("not shown %d", 1);
  TORVA_LOG_WARNING("pipe 0x%02x stalled", 0x82);
  const std::string warning = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(warning, ContainsRegex("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{6}Z "
                                     "torva\\[[0-9]+\\] W diagnostic_log_test\\.cpp:[0-9]+: "
                                     "pipe 0x82 stalled\n$"));

  SetDiagnosticLevel(DiagnosticLevel::kOff);
  ::testing::internal::CaptureStderr();
  TORVA_LOG_ERROR("not shown either");
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), IsEmpty());

  // A text longer than a line is cut, and the line still ends.
  SetDiagnosticLevel(DiagnosticLevel::kInfo);
  ::testing::internal::CaptureStderr();
  TORVA_LOG_INFO("%s", std::string(2000, 'x').c_str());
  const std::string cut = ::testing::internal::GetCapturedStderr();
  SetDiagnosticLevel(DiagnosticLevel::kOff);
  EXPECT_LT(cut.size(), 1000u);
  EXPECT_EQ(cut.back(), '\n');
}

}  // namespace
}  // namespace torva::platform
