#pragma once
// The detection as a host sees it: after the shared-configuration device has been instantiated
// (its Attach starts the detection), waits on the shared device's status notifications until the
// plugin has logged the detection's outcome, lets the detection's handling end (it instantiates
// the plates it found), then lists the plate instances.
//
// Threads: the main thread waits; the plugin notifies from its worker thread.

#include <chrono>
#include <string>
#include <vector>

#include "host/device_instance.h"
#include "host/plugin_session.h"

namespace torva::host {

enum class DetectionOutcome {
  kPlatesFound,
  kNoPlates,
  kFailed,          // the plugin logged an unsuccessful detection
  kTimedOut,        // no end of detection within the limit
  kNoSharedDevice,  // the host holds no shared-configuration instance
  kInterrupted,     // the program was asked to end (SIGINT, SIGTERM) while it waited
};

struct Detection {
  DetectionOutcome outcome = DetectionOutcome::kTimedOut;
  DeviceInstance* shared = nullptr;
  std::vector<DeviceInstance*> plates;  // in the order they were instantiated
};

// Instantiates the shared device and waits at most `limit` for the detection to end.
Detection DetectPlates(PluginSession& session, std::chrono::milliseconds limit);

// Asks the plugin to detect again (its "ScanForHardware" action) while the shared device exists,
// and waits at most `limit` for that detection to end. Plates found since appear, plates no longer
// found show as not connected. Acquisition must be stopped.
Detection Rescan(PluginSession& session, DeviceInstance& shared, std::chrono::milliseconds limit);

// Whether the plate instance shows "Connected".
bool IsConnected(DeviceInstance& plate);

}  // namespace torva::host
