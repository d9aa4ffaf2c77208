#include "plugin/devices/rate_state.h"

#include <algorithm>
#include <limits>

#include "plugin/devices/shared_config_parameter_holder.h"

namespace Torva {
namespace {

struct PlateType {
  std::int32_t productType;
  std::int32_t triggerLevel;
  std::vector<std::uint32_t> excludedRates;  // descending
};

const std::vector<PlateType>& PlateTypes() {
  static const std::vector<PlateType> types = {
      {100, 1, {}},
      {300, 1, {2000, 1800, 1500}},
      {400, 0, {2000, 1800, 1500, 1200, 900, 800, 450, 400, 360, 240, 225, 180, 90, 80, 75, 45, 40, 20}},
  };
  return types;
}

}  // namespace

void RateState::Reset() {
  allowed_.assign(kMasterRateList.begin(), kMasterRateList.end());
  levels_.clear();
}

bool RateState::Add(std::int32_t productType) {
  const auto& types = PlateTypes();
  const auto type = std::find_if(types.begin(), types.end(),
                                 [&](const PlateType& t) { return t.productType == productType; });
  if (type == types.end()) {
    levels_.push_back(std::nullopt);
    return false;
  }
  levels_.push_back(type->triggerLevel);
  // One merge pass over the two descending lists keeps every rate the type does not exclude.
  std::vector<std::uint32_t> kept;
  auto excluded = type->excludedRates.begin();
  for (const std::uint32_t rate : allowed_) {
    while (excluded != type->excludedRates.end() && *excluded > rate) ++excluded;
    if (excluded != type->excludedRates.end() && *excluded == rate) continue;
    kept.push_back(rate);
  }
  allowed_ = std::move(kept);
  return true;
}

std::optional<std::int32_t> RateState::TriggerLevel(std::size_t record) const {
  return record < levels_.size() ? levels_[record] : std::nullopt;
}

std::uint32_t RateState::Reconcile(std::uint32_t requested) const {
  if (allowed_.empty()) return requested;
  if (requested >= allowed_.front()) return allowed_.front();
  if (requested <= allowed_.back()) return allowed_.back();
  for (std::size_t i = 1; i < allowed_.size(); ++i) {
    const std::uint32_t lower = allowed_[i];
    if (requested < lower) continue;
    const std::uint32_t higher = allowed_[i - 1];
    if (requested == lower) return lower;
    // Closer one wins; a tie goes to the lower rate.
    return higher - requested < requested - lower ? higher : lower;
  }
  return allowed_.back();
}

std::optional<std::uint32_t> ParseRate(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace Torva
