#pragma once
// Draws a capture's CSV as a PNG with gnuplot: Fz of every plate over time, and the centre of
// pressure (Cx and Cy) of every plate over time where the plate is loaded (Fz not 0). gnuplot runs
// as a separate program; without it, no plot is drawn and the caller is told so.

#include <string>
#include <vector>

namespace torva::host {

struct PlotOutcome {
  bool drawn = false;
  std::string message;  // why nothing was drawn
};

// `csvPath` is a capture written by CsvFrames with `plates` as its plate columns, in that order.
PlotOutcome DrawCapturePlot(const std::string& csvPath, const std::string& pngPath,
                            const std::vector<std::string>& plates);

// The gnuplot script that draws it (exposed for tests).
std::string CapturePlotScript(const std::string& csvPath, const std::string& pngPath,
                              const std::vector<std::string>& plates);

}  // namespace torva::host
