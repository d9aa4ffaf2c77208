#pragma once
// torva-host's reports that need no capture: `detect` runs the detection and prints every
// instance with its definition, identity, firmware, origin (a, b, az0) and "Connected"; with
// --write-layout it writes the plates' layout file (the places --layout gives, the default row
// for the others); `definitions` prints the definitions the plugin declares, with their
// parameters, outputs and sync inputs. Both end the plugin as a capture does.

#include "host/host_log.h"
#include "host/host_options.h"

namespace torva::host {

int RunDetect(const DetectOptions& options, HostLog& log);
int RunDefinitions(const CommonOptions& options, HostLog& log);

}  // namespace torva::host
