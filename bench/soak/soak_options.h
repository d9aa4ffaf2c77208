#pragma once
// torva-soak's command line: how long, how many amplifiers or plates, at what rate, how often a
// progress line, and which part of the system is soaked.

#include <optional>
#include <string>
#include <vector>

namespace torva::soak {

enum class SoakMode { kDriver, kChain };

struct SoakOptions {
  double seconds = 3600;
  int amplifiers = 25;
  int rate = 3000;
  int plates = 4;
  double sampleSeconds = 10;
  SoakMode mode = SoakMode::kDriver;
};

// Nothing when the soak should run; otherwise the status to exit with (0 after --help), having
// said on stderr what is wrong. "--mode both" is refused: the driver library is one per process
// (one amplifier set, one frame ring, one thread told of new frames), and the plugin initialises
// and shuts down that same library, so the two soaks run as two processes.
std::optional<int> ParseSoakOptions(const std::vector<std::string>& arguments, SoakOptions& options);

}  // namespace torva::soak
