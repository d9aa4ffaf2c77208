/* The public headers must be usable from C (C99) as well as C++: the export interface, and the
 * frame layout with its inline functions. */
#include "driver/api/TorvaUSBDevice.h"
#include "driver/layout/TorvaFrameLayout.h"

int torva_export_header_is_c(void);
int torva_export_header_is_c(void) { return TORVA_VERSION_ID; }

/* Where format 2 puts the auxiliary word of a two-plate frame's first row (13), as C computes it. */
int torva_frame_layout_is_c(void);
int torva_frame_layout_is_c(void) {
  const TorvaFrameLayout layout = {TORVA_FORMAT_ROWS, 2};
  return torva_frame_auxiliary(layout, 0, 0);
}
