#pragma once
// The six channel values an emulated plate measures: the load of the chosen profile as forces
// (N) and moments about the plate's origin (N m), plus sensor noise and an unzeroed drift.

#include <cstddef>
#include <cstdint>

#include "driver/device/streaming_packet.h"
#include "sim/amplifier_description.h"

namespace torva::sim {

using ChannelValues = float[kChannelCount];

class SignalGenerator {
 public:
  explicit SignalGenerator(const AmplifierDescription& description);

  // The true load `seconds` after sampling began, without noise or drift.
  void Load(double seconds, ChannelValues& out) const;
  // What the sensors read for sample `index` at `seconds`: load + noise + drift.
  void Measure(std::int64_t index, double seconds, ChannelValues& out) const;
  // The offset each channel shows until the amplifier is zeroed.
  const ChannelValues& Drift() const { return drift_; }

  // Period of the walking profile: one person crosses the plate every this many seconds.
  static constexpr double kWalkingPeriodSeconds = 4.0;
  static constexpr double kStepStartSeconds = 0.8;
  static constexpr double kStanceSeconds = 0.68;

 private:
  struct Force {
    double fx, fy, fz;     // N
    double copX, copY;     // m, on the surface, from its centre
    double freeMoment;     // N m about the vertical
  };
  Force Profile(double seconds) const;
  void ToChannels(const Force& force, ChannelValues& out) const;
  double Noise(std::int64_t index, std::size_t channel) const;

  SignalProfile profile_;
  double weight_;          // N
  double originX_, originY_, originZ_;  // m
  std::uint64_t seed_;
  ChannelValues drift_;
};

}  // namespace torva::sim
