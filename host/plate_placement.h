#pragma once
// Where the detected plates stand in the lab: each plate's shape, read from its device's
// parameters (StandardDimension_X/_Y, ParameterA/B/AZ0, in m), and its place from the layout file,
// or the default row when no file is given.
//
// Threads: the main thread, while the plugin's devices are instantiated.

#include <optional>
#include <string>
#include <vector>

#include "host/analysis/lab_layout.h"
#include "host/analysis/plate_geometry.h"
#include "host/device_instance.h"

namespace torva::host {

struct PlatesInLab {
  std::vector<std::string> names;
  std::vector<analysis::PlateShape> shapes;
  std::vector<analysis::LabPlacement> placements;
};

// Places `plates` (in detection order) by `layout`, or by the default row without one; says on
// standard error which plates the layout leaves to the default and which of its sections name no
// detected plate.
PlatesInLab PlacePlates(const std::optional<analysis::LabLayout>& layout,
                        const std::vector<DeviceInstance*>& plates);

// One line per plate for the outputs' comments: "<name> x_mm=.. y_mm=.. z_mm=.. rotation_deg=..".
std::vector<std::string> LayoutLines(const PlatesInLab& lab);

// Reads the layout file named by `path` (nothing when `path` is empty); false, after saying why
// (file and line), when it cannot be used.
bool ReadLayoutOption(const std::string& path, std::optional<analysis::LabLayout>& layout);

}  // namespace torva::host
