#include "bench/soak/chain_soak.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "plugin/devices/shared_config_parameter_holder.h"

namespace torva::soak {
namespace {

// Where the plugin's driver library keeps its settings during the soak.
constexpr const char* kSettingsDirectory = "/tmp/torva-soak-chain";

// The highest rate the plugin offers at or below `wanted` (its lowest when all are above).
std::uint32_t OfferedRate(int wanted) {
  for (const std::uint32_t rate : Torva::kMasterRateList)  // strictly descending
    if (rate <= static_cast<std::uint32_t>(wanted)) return rate;
  return Torva::kMasterRateList.back();
}

}  // namespace

bool ChainSoak::Start() {
  ::setenv("TORVA_SIMULATE", std::to_string(plates_).c_str(), 1);
  const std::string directory = kSettingsDirectory;
  std::filesystem::create_directories(directory + "/cfg");
  ::setenv("TORVA_SETTINGS", (directory + "/settings.conf").c_str(), 1);
  open_ = true;
  if (!session_.Open()) {
    std::fprintf(stderr, "the plugin detected no plates\n");
    return false;
  }
  appliedRate_ = session_.StartCapture(std::to_string(OfferedRate(rate_)));
  if (appliedRate_ <= 0) std::fprintf(stderr, "no plate set its rate\n");
  return appliedRate_ > 0;
}

long long ChainSoak::Blocks() const {
  long long blocks = 0;
  for (const auto& [name, plate] : sink_.Plates()) blocks += plate.blocks;
  return blocks;
}

SoakCounts ChainSoak::Counts() const {
  SoakCounts counts;
  const auto plates = sink_.Plates();
  counts.fewestReceived = static_cast<int>(plates.size()) < plates_ ? 0 : -1;
  for (const auto& [name, plate] : plates) {
    counts.received += plate.samples;
    counts.missing += plate.missing;
    if (counts.fewestReceived < 0 || plate.samples < counts.fewestReceived)
      counts.fewestReceived = plate.samples;
  }
  if (counts.fewestReceived < 0) counts.fewestReceived = 0;
  counts.dropped = finalDropped_ >= 0 ? finalDropped_ : fmDLLGetDroppedDataCount();
  counts.overruns = finalOverruns_ >= 0 ? finalOverruns_ : bench::RingOverruns();
  return counts;
}

void ChainSoak::Stop() {
  if (!open_) return;
  open_ = false;
  finalDropped_ = fmDLLGetDroppedDataCount();
  finalOverruns_ = bench::RingOverruns();
  session_.Close();
}

}  // namespace torva::soak
