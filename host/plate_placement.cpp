#include "host/plate_placement.h"

#include <cstdio>

#include "host/command_start.h"
#include "plugin/devices/parameter_value.h"

namespace torva::host {
namespace {

// A number parameter of the plate's device; 0 when it has none.
double NumberParameter(DeviceInstance& plate, const char* name) {
  SabloDigitalDevice::IParameterValueDouble value;
  return plate.Host().ReadByHost(name, value) ? 0.0 : value.GetValue();
}

analysis::PlateShape ReadShape(DeviceInstance& plate) {
  analysis::PlateShape shape;
  shape.lengthM = NumberParameter(plate, "StandardDimension_X");
  shape.widthM = NumberParameter(plate, "StandardDimension_Y");
  shape.parameterA = NumberParameter(plate, "ParameterA");
  shape.parameterB = NumberParameter(plate, "ParameterB");
  shape.parameterAZ0 = NumberParameter(plate, "ParameterAZ0");
  return shape;
}

}  // namespace

PlatesInLab PlacePlates(const std::optional<analysis::LabLayout>& layout,
                        const std::vector<DeviceInstance*>& plates) {
  PlatesInLab lab;
  for (DeviceInstance* plate : plates) {
    lab.names.push_back(plate->Name());
    lab.shapes.push_back(ReadShape(*plate));
  }
  if (!layout) {
    lab.placements = analysis::DefaultPlacements(lab.shapes);
    return lab;
  }
  std::vector<std::string> warnings;
  lab.placements = layout->Place(lab.names, lab.shapes, warnings);
  for (const std::string& warning : warnings) Say("warning: " + warning);
  return lab;
}

std::vector<std::string> LayoutLines(const PlatesInLab& lab) {
  std::vector<std::string> lines;
  for (std::size_t plate = 0; plate < lab.names.size(); ++plate) {
    const analysis::LabPlacement& place = lab.placements[plate];
    lines.push_back(lab.names[plate] + " x_mm=" + NumberText(place.xMm) +
                    " y_mm=" + NumberText(place.yMm) + " z_mm=" + NumberText(place.zMm) +
                    " rotation_deg=" + NumberText(place.rotationDeg));
  }
  return lines;
}

bool ReadLayoutOption(const std::string& path, std::optional<analysis::LabLayout>& layout) {
  if (path.empty()) return true;
  std::string error;
  layout = analysis::LabLayout::Read(path, error);
  if (!layout) Say("--layout " + error);
  return layout.has_value();
}

}  // namespace torva::host
