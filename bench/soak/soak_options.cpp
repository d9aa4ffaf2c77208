#include "bench/soak/soak_options.h"

#include <cstdio>

#include "tools/torvactl/command_line.h"

namespace torva::soak {
namespace {

namespace po = boost::program_options;

// Amplifiers one library serves.
const torvactl::NumberRule kAmplifierRule{1, torvactl::kMaxAmplifiers, true};
// Samples per second an amplifier can be asked for.
const torvactl::NumberRule kRateRule{1, 10000, true};
// A progress line at most every second and at least once a day.
const torvactl::NumberRule kSampleRule{1, 86400};

}  // namespace

std::optional<int> ParseSoakOptions(const std::vector<std::string>& arguments, SoakOptions& options) {
  std::string mode = "driver";
  po::options_description description(
      "torva-soak [--seconds N] [--amplifiers 25] [--rate 3000] [--plates 4] [--sample 10] "
      "[--mode driver|chain]");
  description.add_options()
      ("seconds", torvactl::NumberValue("--seconds", options.seconds, torvactl::kSecondsRule),
       "length of the soak in seconds (default 3600)")
      ("amplifiers", torvactl::NumberValue("--amplifiers", options.amplifiers, kAmplifierRule),
       "driver mode: emulated amplifiers (default 25)")
      ("rate", torvactl::NumberValue("--rate", options.rate, kRateRule),
       "samples per second (default 3000); chain mode asks the plugin for the highest rate it "
       "offers at or below it")
      ("plates", torvactl::NumberValue("--plates", options.plates, kAmplifierRule),
       "chain mode: emulated plates (default 4)")
      ("sample", torvactl::NumberValue("--sample", options.sampleSeconds, kSampleRule),
       "seconds between progress lines (default 10)")
      ("mode", po::value<std::string>(&mode), "driver or chain (default driver)");
  if (auto status = torvactl::ParseCommandLine(description, arguments)) return status;
  if (mode == "driver") {
    options.mode = SoakMode::kDriver;
  } else if (mode == "chain") {
    options.mode = SoakMode::kChain;
  } else if (mode == "both") {
    std::fprintf(stderr,
                 "--mode both is not available: the driver library is one per process and the "
                 "plugin owns it in chain mode; run --mode driver and --mode chain as two "
                 "processes\n");
    return torvactl::kUsageStatus;
  } else {
    std::fprintf(stderr, "--mode: '%s' is neither driver nor chain\n", mode.c_str());
    return torvactl::kUsageStatus;
  }
  return std::nullopt;
}

}  // namespace torva::soak
