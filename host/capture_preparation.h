#pragma once
// The steps from detected plates to a running acquisition, and back, that every recording command
// takes: the plates listed (connected ones take part), the settings written into the shared
// device's parameters, PrepareCapture on the shared device and then on each connected plate (each
// with a handle of its own), SetStartTime on every device; OnCaptureStopped on every device at
// the end. Also the actions a user takes while acquisition runs: zero, blink.
//
// Threads: the program's main thread.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "host/csv_frames.h"
#include "host/host_options.h"
#include "host/plate_detection.h"
#include "host/plugin_session.h"

namespace torva::host {

// What the user chose for the acquisition.
struct AcquisitionChoice {
  std::string rate;  // handed to the plugin as text
  SyncChoice sync = SyncChoice::kSoftware;
  double threshold = 20;
};

// "Hardware trigger" or "Software trigger", as the plugin names the sync modes.
const char* SyncModeName(SyncChoice sync);

struct PreparedCapture {
  std::vector<DeviceInstance*> plates;  // the connected plates, in detection order
  std::vector<CsvPlate> columns;        // their CSV columns
  std::vector<int> handles;             // one per device, shared first; stable while it runs
  std::uint64_t ticks = 0;              // host clock ticks per sample
  double rate = 0;                      // samples per second
};

// Prints each detected plate ("plate NAME: identity", with "(not connected)"), writes the
// settings and prepares the capture. kExitSuccess, or the exit status after saying why (nothing
// is left prepared then).
int PrepareCapture(DeviceInstance& shared, const std::vector<DeviceInstance*>& detected,
                   const AcquisitionChoice& choice, PreparedCapture& prepared);
// SetStartTime on the shared device and every detected plate: acquisition starts.
void StartCapture(PluginSession& session, DeviceInstance& shared,
                  const std::vector<DeviceInstance*>& detected);
// OnCaptureStopped on the shared device and every detected plate.
void StopCapture(DeviceInstance& shared, const std::vector<DeviceInstance*>& detected);

// Waits until the shared device reports acquisition running; false when it did not within limit.
bool WaitForRunning(DeviceInstance& shared, std::chrono::milliseconds limit);
// Zeroes every plate through the shared device's action, as a user pressing it would; false,
// having said why, when the plugin did not take it.
bool BroadcastZero(DeviceInstance& shared);
// Makes the plate's amplifier blink; false, having said why, when the plugin did not take it.
bool Blink(DeviceInstance& plate);

}  // namespace torva::host
