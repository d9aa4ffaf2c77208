#pragma once
// A live run of torva-host: the page served (see LiveServer) while the plates acquire until the
// program is asked to end (SIGINT, SIGTERM) or a page presses Quit. The plates are detected once;
// Rescan detects again without a restart. Zero, Blink, Record and Stop act while acquisition
// goes on; each Record .. Stop writes a trial (see TrialRecorder).
//
// Threads: the main thread runs it and every call into the plugin; the server runs on its own
// thread and only reads the live feed and hands commands over.

#include "host/host_log.h"
#include "host/host_options.h"

namespace torva::host {

// Runs the live view; returns the exit status. A layout, trials folder or port that cannot be
// used ends it with kExitUsageOrLoading before the plugin is loaded.
int RunLive(const LiveOptions& options, HostLog& log);

}  // namespace torva::host
