#pragma once
// A plate sample as the rows carry it (nine floats: force, moment, CoP) read as a HostSample.

#include "host/analysis/plate_geometry.h"
#include "host/plate_sample.h"

namespace torva::host::analysis {

inline HostSample ToHostSample(const PlateSample& values) {
  HostSample sample;
  for (std::size_t axis = 0; axis < kComponentsPerOutput; ++axis) {
    sample.force[axis] = values[axis];
    sample.moment[axis] = values[kComponentsPerOutput + axis];
    sample.cop[axis] = values[2 * kComponentsPerOutput + axis];
  }
  return sample;
}

}  // namespace torva::host::analysis
