// torva-soak: streams emulated amplifiers for a long time, through the driver library alone
// (--mode driver) or the whole chain of driver, plugin and host core (--mode chain), printing a
// progress line every --sample seconds and a summary; exits 1 when a frame was lost or resident
// memory grew past its margin (bench/soak/soak_limits.h).

#include <memory>
#include <string>
#include <vector>

#include "bench/soak/chain_soak.h"
#include "bench/soak/driver_soak.h"
#include "bench/soak/soak_monitor.h"
#include "bench/soak/soak_options.h"

using namespace torva::soak;

int main(int argc, char** argv) {
  SoakOptions options;
  if (auto status = ParseSoakOptions(std::vector<std::string>(argv + 1, argv + argc), options))
    return *status;
  SoakSettings settings;
  settings.seconds = options.seconds;
  settings.sampleSeconds = options.sampleSeconds;
  if (options.mode == SoakMode::kDriver) {
    settings.title = "soak: driver, " + std::to_string(options.amplifiers) + " amplifiers at " +
                     std::to_string(options.rate) + " samples/s for " +
                     std::to_string(static_cast<long long>(options.seconds)) +
                     " s; frames are sample periods of all amplifiers";
    DriverSoak source(options.amplifiers, options.rate);
    return RunSoak(source, settings);
  }
  ChainSoak source(options.plates, options.rate);
  settings.title = "soak: chain, " + std::to_string(options.plates) +
                   " plates through the plugin and the host core, rate asked " +
                   std::to_string(options.rate) + " (highest offered at or below) for " +
                   std::to_string(static_cast<long long>(options.seconds)) +
                   " s; frames are frame numbers summed over the plates";
  return RunSoak(source, settings);
}
