#pragma once
// Runs a soak: starts the source, prints a progress line every sample period and a summary at the
// end, and judges whether anything was lost or resident memory grew past its margin.

#include <string>

#include "bench/soak/soak_source.h"

namespace torva::soak {

struct SoakSettings {
  std::string title;  // the first line printed: what is soaked, how
  double seconds = 0;
  double sampleSeconds = 0;
};

// Exit status: 0 when nothing was lost and memory stayed within its margin, 1 otherwise.
int RunSoak(SoakSource& source, const SoakSettings& settings);

}  // namespace torva::soak
