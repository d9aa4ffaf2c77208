#pragma once
// A capture run of torva-host, in the order a motion-capture host calls the plugin: load,
// Initialise, definitions, instantiation of the shared device (whose Attach detects the plates),
// the settings written into the shared device's parameters, PrepareCapture on the shared device
// and then on each connected plate (each with a handle of its own), SetStartTime on every device,
// the optional zero once acquisition runs, recording for the requested seconds from the first
// block, OnCaptureStopped on every device, Shutdown and the library closed.
//
// Threads: the main thread runs it; the plugin pushes from its worker thread into the frame sink.

#include "host/host_log.h"
#include "host/host_options.h"
#include "host/capture_writers.h"
#include "host/output_file.h"

namespace torva::host {

// Runs the capture, writes the outputs and the plate report and summary to standard error;
// returns the exit status. The layout file is read before the plugin is loaded. An output is kept
// (put in place under its name) only when the capture recorded a frame; a write to any output or
// to the log that fails ends the recording, says why, and gives kExitOutputFailed, with what was
// written before kept (whole rows; a C3D file completed to a valid file of the frames it holds).
int RunCapture(const CaptureOptions& options, HostLog& log, const CaptureOutputs& outputs);

}  // namespace torva::host
