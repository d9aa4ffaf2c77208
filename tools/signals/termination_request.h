#pragma once
// How torvactl and torva-host end a capture on SIGINT or SIGTERM. The first signal only records
// the request, which the programs' waiting loops look at (they wake at least every
// kTerminationPollInterval), so that the capture ends as if its time were up: the outputs end on a
// whole row, the library or plugin is shut down, the summary is printed, and the program ends with
// 128 + the signal's number (130 for SIGINT, 143 for SIGTERM). A second signal ends the program at
// once with that status.
//
// Threads: the handlers run on whichever thread the signal reaches; TerminationSignal may be read
// from any thread.

#include <chrono>

namespace torva::tools {

inline constexpr std::chrono::milliseconds kTerminationPollInterval{200};

// Installs the handlers for SIGINT and SIGTERM (once, at the program's start).
void InstallTerminationHandlers();
// The signal that asked the program to end; 0 while none has.
int TerminationSignal();
// The exit status of a program ended by `signal`.
constexpr int TerminationStatus(int signal) { return 128 + signal; }
// "SIGINT", "SIGTERM" or "signal N".
const char* TerminationSignalName(int signal);

}  // namespace torva::tools
