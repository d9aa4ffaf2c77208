#include "host/capture_plot.h"

#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <sstream>

namespace torva::host {
namespace {

// Columns of the CSV (counted from 1 as gnuplot does): frame, time_s, then nine per plate.
constexpr int kTimeColumn = 2;
constexpr int kFirstPlateColumn = 3;
constexpr int kValuesPerPlate = 9;
constexpr int kFzOffset = 2;
constexpr int kCxOffset = 6;
constexpr int kCyOffset = 7;
// gnuplot's exit status when the shell cannot find it.
constexpr int kCommandNotFound = 127;

// A text quoted for gnuplot's single-quoted strings. A control character (a line break would end
// the command and start another) becomes '?'.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') quoted += "''";
    else if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') quoted += '?';
    else quoted += c;
  }
  return quoted + "'";
}

}  // namespace

std::string CapturePlotScript(const std::string& csvPath, const std::string& pngPath,
                              const std::vector<std::string>& plates) {
  std::ostringstream script;
  script << "set terminal png size 1200,900\n"
         << "set output " << Quoted(pngPath) << "\n"
         << "set datafile separator ','\n"
         << "set datafile missing ''\n"
         << "set grid\n"
         << "set multiplot layout 2,1\n"
         << "set title 'Vertical force'\nset xlabel 'time (s)'\nset ylabel 'Fz (N)'\n"
         << "plot ";
  const std::string data = Quoted(csvPath);
  for (std::size_t p = 0; p < plates.size(); ++p) {
    const int base = kFirstPlateColumn + static_cast<int>(p) * kValuesPerPlate;
    script << (p ? ", " : "") << data << " every ::1 using " << kTimeColumn << ":"
           << base + kFzOffset << " with lines title " << Quoted(plates[p] + " Fz");
  }
  script << "\nset title 'Centre of pressure where loaded'\nset ylabel 'position (m)'\nplot ";
  for (std::size_t p = 0; p < plates.size(); ++p) {
    const int base = kFirstPlateColumn + static_cast<int>(p) * kValuesPerPlate;
    const std::string loaded = "(column(" + std::to_string(base + kFzOffset) + ") != 0 ? column(";
    script << (p ? ", " : "") << data << " every ::1 using " << kTimeColumn << ":" << loaded
           << base + kCxOffset << ") : NaN) with lines title " << Quoted(plates[p] + " Cx") << ", "
           << data << " every ::1 using " << kTimeColumn << ":" << loaded << base + kCyOffset
           << ") : NaN) with lines title " << Quoted(plates[p] + " Cy");
  }
  script << "\nunset multiplot\n";
  return script.str();
}

PlotOutcome DrawCapturePlot(const std::string& csvPath, const std::string& pngPath,
                            const std::vector<std::string>& plates) {
  PlotOutcome outcome;
  std::unique_ptr<FILE, int (*)(FILE*)> gnuplot(popen("gnuplot 2>/dev/null", "w"), pclose);
  if (!gnuplot) {
    outcome.message = "gnuplot could not be started: no plot drawn";
    return outcome;
  }
  const std::string script = CapturePlotScript(csvPath, pngPath, plates);
  std::fwrite(script.data(), 1, script.size(), gnuplot.get());
  const int status = pclose(gnuplot.release());
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCommandNotFound) {
    outcome.message = "gnuplot is not installed: no plot drawn (install gnuplot-nox)";
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    outcome.message = "gnuplot failed: no plot drawn";
  } else {
    outcome.drawn = true;
  }
  return outcome;
}

}  // namespace torva::host
