#include "host/analysis/plate_geometry.h"

#include <cmath>

namespace torva::host::analysis {
namespace {

constexpr double kMmPerM = 1000.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerHalfTurn = 180.0;

// The plate's own frame is the host frame turned half a turn about y; the turn is its own
// inverse, so the same map takes a vector either way.
Vector3 SwapHostAndOwn(const Vector3& v) { return {-v[0], v[1], -v[2]}; }

Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vector3 Sum(const Vector3& a, const Vector3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }

Vector3 Scaled(const Vector3& v, double factor) {
  return {v[0] * factor, v[1] * factor, v[2] * factor};
}

// Turns `v` about the vertical by the placement's rotation, counter-clockwise seen from above.
Vector3 TurnedIntoLab(const Vector3& v, const LabPlacement& placement) {
  const double angle = placement.rotationDeg * kPi / kDegreesPerHalfTurn;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return {c * v[0] - s * v[1], s * v[0] + c * v[1], v[2]};
}

// A point given in host axes (m from the surface centre) as a lab position (mm).
Vector3 LabPoint(const Vector3& hostM, const LabPlacement& placement) {
  const Vector3 centreMm{placement.xMm, placement.yMm, placement.zMm};
  return Sum(centreMm, TurnedIntoLab(Scaled(hostM, kMmPerM), placement));
}

// The vector from the measuring origin to the surface centre in the plate's own frame (m): -o.
Vector3 MeasuringOriginToCentre(const PlateShape& shape) {
  return {shape.parameterA, -shape.parameterB, shape.parameterAZ0};
}

}  // namespace

C3dPlateFrame DescribeForC3d(const LabPlacement& placement, const PlateShape& shape) {
  const double halfLength = shape.lengthM / 2;
  const double halfWidth = shape.widthM / 2;
  // The quadrants +x+y, -x+y, -x-y, +x-y of the plate's own frame, as C3D orders its corners.
  const std::array<Vector3, 4> ownCorners{{{halfLength, halfWidth, 0},
                                           {-halfLength, halfWidth, 0},
                                           {-halfLength, -halfWidth, 0},
                                           {halfLength, -halfWidth, 0}}};
  C3dPlateFrame frame;
  for (std::size_t i = 0; i < ownCorners.size(); ++i) {
    frame.cornersMm[i] = LabPoint(SwapHostAndOwn(ownCorners[i]), placement);
  }
  frame.originMm = Scaled(MeasuringOriginToCentre(shape), kMmPerM);
  return frame;
}

std::array<double, 6> C3dChannels(const HostSample& sample, const PlateShape& shape) {
  const Vector3 forceOwn = SwapHostAndOwn(sample.force);
  const Vector3 momentAtCentreOwn = SwapHostAndOwn(sample.moment);
  // Moving the point a moment is taken about from the surface centre P to the measuring origin O
  // adds (P - O) x F.
  const Vector3 momentAtOriginOwn =
      Sum(momentAtCentreOwn, Cross(MeasuringOriginToCentre(shape), forceOwn));
  const Vector3 momentNmm = Scaled(momentAtOriginOwn, kMmPerM);
  return {forceOwn[0], forceOwn[1], forceOwn[2], momentNmm[0], momentNmm[1], momentNmm[2]};
}

Vector3 LabCop(const HostSample& sample, const LabPlacement& placement) {
  return LabPoint({sample.cop[0], sample.cop[1], 0}, placement);
}

Vector3 LabForce(const HostSample& sample, const LabPlacement& placement) {
  return TurnedIntoLab(sample.force, placement);
}

double FreeMomentAtCop(const HostSample& sample) {
  // The vertical part of M_P - C x F, the moment about the CoP.
  const double copMomentZ = sample.cop[0] * sample.force[1] - sample.cop[1] * sample.force[0];
  return sample.moment[2] - copMomentZ;
}

bool Loaded(const HostSample& sample) { return sample.force[2] != 0; }

}  // namespace torva::host::analysis
