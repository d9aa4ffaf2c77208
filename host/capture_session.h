#pragma once
// A capture run of torva-host, in the order a motion-capture host calls the plugin: load,
// Initialise, definitions, instantiation of the shared device (whose Attach detects the plates),
// the settings written into the shared device's parameters, PrepareCapture on the shared device
// and then on each connected plate (each with a handle of its own), SetStartTime on every device,
// the optional zero once acquisition runs, recording for the requested seconds from the first
// block, OnCaptureStopped on every device, Shutdown and the library closed.
//
// Threads: the main thread runs it; the plugin pushes from its worker thread into the frame sink.

#include <ostream>

#include "host/host_log.h"
#include "host/host_options.h"

namespace torva::host {

// Runs the capture, writes the CSV to `csv` and the plate report and summary to standard error;
// returns the exit status.
int RunCapture(const CaptureOptions& options, HostLog& log, std::ostream& csv);

}  // namespace torva::host
