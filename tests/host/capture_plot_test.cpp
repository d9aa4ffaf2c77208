// The plot's gnuplot script reads each plate's own columns of the capture CSV.

#include "host/capture_plot.h"

#include <gtest/gtest.h>

#include <string>

namespace torva::host {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CapturePlot, EachPlateIsDrawnFromItsOwnColumnsAndNamesAreQuoted) {
  const std::string script =
      CapturePlotScript("/tmp/a b.csv", "/tmp/out.png", {"TA1P1", "TA'2P2"});
  // frame and time_s come first, then nine columns per plate: Fz third, Cx seventh, Cy eighth.
  EXPECT_TRUE(Contains(script, "using 2:5 with lines title 'TA1P1 Fz'"));
  EXPECT_TRUE(Contains(script, "using 2:14 with lines title 'TA''2P2 Fz'"));
  EXPECT_TRUE(Contains(script, "using 2:(column(5) != 0 ? column(9) : NaN)"));
  EXPECT_TRUE(Contains(script, "using 2:(column(14) != 0 ? column(19) : NaN)"));
  EXPECT_TRUE(Contains(script, "set output '/tmp/out.png'"));
  EXPECT_TRUE(Contains(script, "'/tmp/a b.csv' every ::1"));  // the header row is skipped

  // A line break in a name never ends the command it stands in (a line starting with '!' would
  // run a shell command).
  const std::string injected =
      CapturePlotScript("a\n!touch x.csv", "b\r\n!touch y.png", {"P\n!touch z"});
  EXPECT_FALSE(Contains(injected, "\n!"));
  EXPECT_FALSE(Contains(injected, "\r"));
}

}  // namespace
}  // namespace torva::host
