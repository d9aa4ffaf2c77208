#pragma once
// Where a lab's plates stand: the layout file, and the default place of a plate it does not name.
//
// The layout file is an INI file with one section per plate, named by the plate's instance name
// (amplifier serial and platform serial, e.g. TA601201P048311), and the keys x_mm and y_mm (the
// plate's surface centre in the lab, required), z_mm (default 0) and rotation_deg (the turn of the
// plate's host axes about the vertical, counter-clockwise seen from above, default 0); see
// plate_geometry.h for the axes. Lines starting with ';' or '#' are comments.
//
// The default place: the plates stand in a row along the lab's x axis in detection order, none
// turned, their surface centres at y = 0, z = 0; the first at x = 0, each next one at the previous
// centre + half the previous plate's length + kDefaultGapMm + half its own length. A plate the
// layout file does not name takes the place it would have in that row were every plate defaulted,
// whatever the file does with the others.
//
// Threads: none; plain values and functions.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/analysis/plate_geometry.h"

namespace torva::host::analysis {

// The space left between neighbouring plates in the default row.
constexpr double kDefaultGapMm = 100;

class LabLayout {
 public:
  // Reads the layout file at `path`. On failure nothing, and `error` says what is wrong as
  // "FILE:LINE: what" (the line of the offending section or key), or as "FILE: reason" for a file
  // that cannot be read (only a regular file is read; a FIFO or a device is refused unopened).
  static std::optional<LabLayout> Read(const std::string& path, std::string& error);

  // The placements of the detected `plates` (instance names, detection order), `shapes[i]` being
  // the shape of `plates[i]` (a missing shape counts as a plate of no length). A plate the file
  // does not name takes its default place and gives a warning; a section naming a plate that was
  // not detected gives a warning.
  std::vector<LabPlacement> Place(const std::vector<std::string>& plates,
                                  const std::vector<PlateShape>& shapes,
                                  std::vector<std::string>& warnings) const;

  const std::string& Path() const { return path_; }

 private:
  struct Section {
    std::string plate;
    std::size_t line = 0;  // of the section's header, for warnings
    LabPlacement placement;
  };

  LabLayout(std::string path, std::vector<Section> sections)
      : path_(std::move(path)), sections_(std::move(sections)) {}

  std::string path_;
  std::vector<Section> sections_;  // in file order, one per plate
};

// The default place of every plate (no layout file given), `shapes` in detection order.
std::vector<LabPlacement> DefaultPlacements(const std::vector<PlateShape>& shapes);

// The text of a layout file that places `plates[i]` at `placements[i]` (as many plates as both
// lists hold): a comment line saying what the file is, then one section per plate with all four
// keys, the numbers written in the shortest text that reads back to the same value.
std::string LayoutText(const std::vector<std::string>& plates,
                       const std::vector<LabPlacement>& placements);

}  // namespace torva::host::analysis
