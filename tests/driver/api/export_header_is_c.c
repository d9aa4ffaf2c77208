/* The export header must be usable from C as well as C++. */
#include "driver/api/TorvaUSBDevice.h"

int torva_export_header_is_c(void);
int torva_export_header_is_c(void) { return TORVA_VERSION_ID; }
