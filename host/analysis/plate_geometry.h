#pragma once
// Where a plate stands in the lab, and how its samples read there.
//
// Axes. The plugin reports a plate's samples in its "host axes": x and y in the plate's surface,
// z up; forces in N (the force applied to the plate: Fz is negative under a load), moments in N·m
// about the plate's surface centre, the centre of pressure (CoP) in m from the surface centre
// (Cz = 0). A sample at or below the plugin's force threshold is nine zeros.
// The lab's axes: x and y horizontal, z up, lengths in mm. A plate's placement puts its surface
// centre at (x_mm, y_mm, z_mm) and turns its host axes by rotation_deg about the vertical,
// counter-clockwise seen from above: lab = centre + Rz(rotation) · (1000 · host position).
// The plate's own frame (the one its amplifier measures in, which C3D files describe) is the host
// frame turned half a turn about y: x_own = -x_host, y_own = y_host, z_own = -z_host (down).
// Its origin parameters (ParameterA, ParameterB, ParameterAZ0 of the plate device, in m) give the
// offsets o = (-A, B, -AZ0) in the plate's own frame; the vector from the amplifier's measuring
// origin (where the raw moments are taken) to the surface centre is -o = (A, -B, AZ0).
//
// Threads: none; plain values and functions.

#include <array>
#include <string>

namespace torva::host::analysis {

// A plate's place in the lab, as a layout file gives it.
struct LabPlacement {
  double xMm = 0;
  double yMm = 0;
  double zMm = 0;
  double rotationDeg = 0;
};

// What the plate devices report of a plate's shape: its dimensions along its x and y axes and its
// origin parameters, all in m.
struct PlateShape {
  double lengthM = 0;  // StandardDimension_X
  double widthM = 0;   // StandardDimension_Y
  double parameterA = 0;
  double parameterB = 0;
  double parameterAZ0 = 0;
};

using Vector3 = std::array<double, 3>;

// One plate sample in host axes, as the CSV holds it: F (N), M (N·m), CoP (m).
struct HostSample {
  Vector3 force{};
  Vector3 moment{};
  Vector3 cop{};
};

// A plate as C3D describes it (FORCE_PLATFORM, TYPE 2): its corners in lab coordinates (mm) in the
// order the format prescribes (the quadrants +x+y, -x+y, -x-y, +x-y of the plate's own frame), and
// ORIGIN: the vector from the measuring origin to the surface centre in the plate's own frame
// (mm; its z is negative when the measuring origin lies below the surface).
struct C3dPlateFrame {
  std::array<Vector3, 4> cornersMm{};
  Vector3 originMm{};
};
C3dPlateFrame DescribeForC3d(const LabPlacement& placement, const PlateShape& shape);

// A sample as a C3D TYPE-2 plate's six channels: force (N) and moment about the measuring origin
// (N·mm), both in the plate's own frame. A reader that follows the format computes from these,
// the corners and ORIGIN the same lab CoP and force as LabCop and LabForce.
std::array<double, 6> C3dChannels(const HostSample& sample, const PlateShape& shape);

// The sample's CoP in the lab (mm) and the force applied to the plate in lab axes (N).
Vector3 LabCop(const HostSample& sample, const LabPlacement& placement);
Vector3 LabForce(const HostSample& sample, const LabPlacement& placement);

// The free moment about the vertical through the CoP (N·m, counter-clockwise seen from above
// positive), that is the moment the plate feels there, which has no horizontal part.
double FreeMomentAtCop(const HostSample& sample);

// Whether the sample carries a load (the plugin reports nine zeros at or below its threshold).
bool Loaded(const HostSample& sample);

}  // namespace torva::host::analysis
