#pragma once
// umockdev redirects /dev and /sys, and forwards a device node's ioctls to the testbed, through a
// preload library that must be loaded from the start of the process. A program that serves or
// uses emulated USB devices calls EnsureUmockdevPreload first thing in main: it re-executes the
// program with the preload library added to LD_PRELOAD unless it is there already.

namespace torva::e2e {

// Returns only when the preload library is loaded; on failure to re-execute it reports the error
// and ends the process. Also clears TORVA_SIMULATE, so that the driver library takes the real
// libusb path to the emulated devices rather than its in-process emulator.
void EnsureUmockdevPreload(char** argv);

}  // namespace torva::e2e
