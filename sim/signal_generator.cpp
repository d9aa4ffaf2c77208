#include "sim/signal_generator.h"

#include <cmath>

namespace torva::sim {
namespace {

constexpr double kGravity = 9.80665;
constexpr double kMetresPerInch = 0.0254;
constexpr double kPi = 3.14159265358979323846;
constexpr double kForceNoise = 0.35;     // N, peak of the uniform noise sum
constexpr double kMomentNoise = 0.03;    // N m
constexpr double kForceDrift = 4.0;      // N, largest unzeroed offset
constexpr double kMomentDrift = 0.4;     // N m
constexpr double kFootLength = 0.24;     // m, heel to toe travel of the centre of pressure
constexpr double kSwayAmplitude = 0.006; // m, quiet-standing sway of the centre of pressure
constexpr double kSwayHertz = 0.31;
constexpr double kFootLateral = 0.06;  // m, the stepping foot's distance from the centre line

// A well-mixed 64-bit hash (splitmix64), so every sample's noise is reproducible from its index.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// A value in [-1, 1) from a hash.
double Unit(std::uint64_t hash) {
  constexpr double kScale = 1.0 / 9007199254740992.0;  // 2^-53
  return static_cast<double>(hash >> 11) * kScale * 2.0 - 1.0;
}

}  // namespace

SignalGenerator::SignalGenerator(const AmplifierDescription& description)
    : profile_(description.signal),
      weight_(description.bodyMassKg * kGravity),
      originX_(description.platformOffsets[0] * kMetresPerInch),
      originY_(description.platformOffsets[1] * kMetresPerInch),
      originZ_(description.platformOffsets[2] * kMetresPerInch),
      seed_(Mix(description.noiseSeed)),
      drift_{} {
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    const double limit = c < 3 ? kForceDrift : kMomentDrift;
    drift_[c] = static_cast<float>(limit * Unit(Mix(seed_ + c)));
  }
}

SignalGenerator::Force SignalGenerator::Profile(double seconds) const {
  Force f{};
  switch (profile_) {
    case SignalProfile::kUnloaded:
      break;
    case SignalProfile::kStaticLoad: {
      // Someone standing still a little off centre, swaying slowly.
      const double sway = std::sin(2.0 * kPi * kSwayHertz * seconds);
      f.fz = weight_;
      f.fx = 0.004 * weight_ * sway;
      f.fy = -0.003 * weight_ * std::cos(2.0 * kPi * kSwayHertz * seconds);
      f.copX = 0.03 + kSwayAmplitude * sway;
      f.copY = -0.05 + 0.5 * kSwayAmplitude * std::cos(2.0 * kPi * kSwayHertz * seconds);
      break;
    }
    case SignalProfile::kWalkingTrial: {
      // One stance phase per period: the double-humped vertical force of a walking step, braking
      // then propulsive shear, and the centre of pressure rolling from heel to toe along y.
      const double inPeriod = std::fmod(seconds, kWalkingPeriodSeconds);
      const double s = (inPeriod - kStepStartSeconds) / kStanceSeconds;
      if (s <= 0.0 || s >= 1.0) break;
      f.fz = weight_ * (1.2 * std::sin(kPi * s) + 0.35 * std::sin(3.0 * kPi * s));
      f.fy = -0.2 * weight_ * std::sin(2.0 * kPi * s);
      f.fx = 0.05 * weight_ * std::sin(kPi * s);
      f.copX = kFootLateral;
      f.copY = -0.5 * kFootLength + kFootLength * s;
      f.freeMoment = 0.003 * weight_ * std::sin(2.0 * kPi * s);
      break;
    }
  }
  return f;
}

void SignalGenerator::ToChannels(const Force& force, ChannelValues& out) const {
  // Moments about the origin of the force applied at the centre of pressure on the surface.
  const double rx = force.copX - originX_;
  const double ry = force.copY - originY_;
  const double rz = originZ_;
  out[0] = static_cast<float>(force.fx);
  out[1] = static_cast<float>(force.fy);
  out[2] = static_cast<float>(force.fz);
  out[3] = static_cast<float>(ry * force.fz - rz * force.fy);
  out[4] = static_cast<float>(rz * force.fx - rx * force.fz);
  out[5] = static_cast<float>(rx * force.fy - ry * force.fx + force.freeMoment);
}

void SignalGenerator::Load(double seconds, ChannelValues& out) const {
  ToChannels(Profile(seconds), out);
}

double SignalGenerator::Noise(std::int64_t index, std::size_t channel) const {
  const std::uint64_t base = Mix(seed_ ^ (static_cast<std::uint64_t>(index) * 8 + channel));
  // The sum of two uniforms: a triangular distribution, closer to sensor noise than one uniform.
  const double value = 0.5 * (Unit(base) + Unit(Mix(base)));
  return value * (channel < 3 ? kForceNoise : kMomentNoise);
}

void SignalGenerator::Measure(std::int64_t index, double seconds, ChannelValues& out) const {
  Load(seconds, out);
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    out[c] = static_cast<float>(out[c] + Noise(index, c) + drift_[c]);
  }
}

}  // namespace torva::sim
