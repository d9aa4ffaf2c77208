// A plate's samples in the lab and as C3D describes them, checked against a force applied at a
// known lab point and a C3D TYPE-2 reader written out here, independently of the implementation.

#include "host/analysis/plate_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace torva::host::analysis {
namespace {

constexpr double kMmTolerance = 1e-6;
constexpr double kNewtonTolerance = 1e-9;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerHalfTurn = 180;
constexpr double kMmPerM = 1000;

// A plate 0.6 m by 0.4 m whose measuring origin lies off the surface centre in all three axes.
const PlateShape kShape{0.6, 0.4, 0.012, -0.007, -0.041};

Vector3 TurnedAboutVertical(const Vector3& v, double degrees) {
  const double angle = degrees * kPi / kDegreesPerHalfTurn;
  return {std::cos(angle) * v[0] - std::sin(angle) * v[1],
          std::sin(angle) * v[0] + std::cos(angle) * v[1], v[2]};
}

Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vector3 Minus(const Vector3& a, const Vector3& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Vector3 Unit(const Vector3& v) {
  const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  return {v[0] / length, v[1] / length, v[2] / length};
}

// What the plugin reports for `forceLab` (N) applied at `pointMm` on the plate's surface plus a
// free moment about the vertical (N·m): force, moment about the surface centre and CoP, in host
// axes and m.
HostSample PluginSample(const LabPlacement& placement, const Vector3& pointMm,
                        const Vector3& forceLab, double freeMoment) {
  const Vector3 offsetMm = Minus(pointMm, {placement.xMm, placement.yMm, placement.zMm});
  const Vector3 hostMm = TurnedAboutVertical(offsetMm, -placement.rotationDeg);
  const Vector3 copM{hostMm[0] / kMmPerM, hostMm[1] / kMmPerM, 0};
  HostSample sample;
  sample.force = TurnedAboutVertical(forceLab, -placement.rotationDeg);
  sample.moment = Cross(copM, sample.force);
  sample.moment[2] += freeMoment;
  sample.cop = copM;
  return sample;
}

// The lab CoP a C3D reader computes for a TYPE-2 plate from its corners, ORIGIN and channels.
Vector3 ReaderCop(const C3dPlateFrame& frame, const std::array<double, 6>& channels) {
  const auto& c = frame.cornersMm;
  const Vector3 x = Unit(Minus(c[0], c[1]));
  const Vector3 y = Unit(Minus(c[0], c[3]));
  const Vector3 z = Cross(x, y);
  Vector3 centre{};
  for (const Vector3& corner : c) {
    for (int i = 0; i < 3; ++i) centre[i] += corner[i] / 4;
  }
  const Vector3& origin = frame.originMm;
  const auto inLab = [&](const Vector3& own) {
    return Vector3{x[0] * own[0] + y[0] * own[1] + z[0] * own[2],
                   x[1] * own[0] + y[1] * own[1] + z[1] * own[2],
                   x[2] * own[0] + y[2] * own[1] + z[2] * own[2]};
  };
  const Vector3 measuringOrigin = Minus(centre, inLab(origin));
  const double fx = channels[0], fy = channels[1], fz = channels[2];
  const double mx = channels[3], my = channels[4];
  const Vector3 copOwn{(origin[2] * fx - my) / fz, (mx + origin[2] * fy) / fz, origin[2]};
  const Vector3 copFromOrigin = inLab(copOwn);
  return {measuringOrigin[0] + copFromOrigin[0], measuringOrigin[1] + copFromOrigin[1],
          measuringOrigin[2] + copFromOrigin[2]};
}

class PlateGeometryTurned : public ::testing::TestWithParam<double> {};

// A reader of the C3D description finds the CoP where the force was applied, the lab force is the
// applied force, and the free moment comes back, whatever the plate's turn.
TEST_P(PlateGeometryTurned, AReaderFindsTheCopWhereTheForceWasApplied) {
  const LabPlacement placement{850, -320, 12, GetParam()};
  const Vector3 offsetMm = TurnedAboutVertical({173, -61, 0}, placement.rotationDeg);
  const Vector3 pointMm{placement.xMm + offsetMm[0], placement.yMm + offsetMm[1], placement.zMm};
  const Vector3 forceLab{37, -52, -640};
  const double freeMoment = 2.5;
  const HostSample sample = PluginSample(placement, pointMm, forceLab, freeMoment);

  const Vector3 readerCop =
      ReaderCop(DescribeForC3d(placement, kShape), C3dChannels(sample, kShape));
  const Vector3 labCop = LabCop(sample, placement);
  const Vector3 labForce = LabForce(sample, placement);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(readerCop[i], pointMm[i], kMmTolerance) << "axis " << i;
    EXPECT_NEAR(labCop[i], pointMm[i], kMmTolerance) << "axis " << i;
    EXPECT_NEAR(labForce[i], forceLab[i], kNewtonTolerance) << "axis " << i;
  }
  EXPECT_EQ(labForce[2], sample.force[2]);
  EXPECT_NEAR(FreeMomentAtCop(sample), freeMoment, kNewtonTolerance);
}

INSTANTIATE_TEST_SUITE_P(PlateGeometryRotations, PlateGeometryTurned,
                         ::testing::Values(0.0, 90.0, 33.0, -150.0));

// ORIGIN points from the measuring origin to the surface centre: (A, -B, AZ0) in mm.
TEST(PlateGeometry, OriginIsTheMeasuringOriginToTheSurfaceCentre) {
  const C3dPlateFrame frame = DescribeForC3d({}, kShape);
  EXPECT_DOUBLE_EQ(frame.originMm[0], 12);
  EXPECT_DOUBLE_EQ(frame.originMm[1], 7);
  EXPECT_DOUBLE_EQ(frame.originMm[2], -41);
}

// The corners come in the quadrant order +x+y, -x+y, -x-y, +x-y of the plate's own frame, whose
// x runs against the host x.
TEST(PlateGeometry, CornersFollowTheOwnFramesQuadrants) {
  const auto corners = DescribeForC3d({100, 200, 5, 0}, kShape).cornersMm;
  const std::array<Vector3, 4> expected{{{-200, 400, 5}, {400, 400, 5}, {400, 0, 5}, {-200, 0, 5}}};
  const auto turned = DescribeForC3d({100, 200, 5, 90}, kShape).cornersMm;
  // A quarter turn counter-clockwise takes host (-300, 200) to (-200, -300).
  const std::array<Vector3, 4> expectedTurned{{{-100, -100, 5}, {-100, 500, 5}, {300, 500, 5},
                                               {300, -100, 5}}};
  for (int corner = 0; corner < 4; ++corner) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(corners[corner][i], expected[corner][i], kMmTolerance) << corner << "/" << i;
      EXPECT_NEAR(turned[corner][i], expectedTurned[corner][i], kMmTolerance)
          << corner << "/" << i;
    }
  }
}

TEST(PlateGeometry, OnlyAVerticalForceCountsAsLoaded) {
  HostSample sample;
  EXPECT_FALSE(Loaded(sample));
  sample.force[2] = -0.5;
  EXPECT_TRUE(Loaded(sample));
}

}  // namespace
}  // namespace torva::host::analysis
