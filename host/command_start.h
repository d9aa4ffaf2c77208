#pragma once
// What every torva-host command does before its own work, and how it tells the user what went
// wrong: each message is one line "torva-host: <text>" on standard error. Loading the plugin and
// starting its session, and judging a detection, end in the exit status the command returns.
//
// Threads: the program's main thread.

#include <chrono>
#include <memory>
#include <string>

#include "host/frame_sink.h"
#include "host/host_log.h"
#include "host/host_options.h"
#include "host/plate_detection.h"
#include "host/plugin_session.h"

namespace torva::host {

// One message to the user on standard error.
void Say(const std::string& text);
// A number in its shortest form ("2", "0.5", "1e+06"), as the user would write it.
std::string NumberText(double number);
// Seconds from the options as a duration.
std::chrono::milliseconds Milliseconds(double seconds);

// Loads the plugin (`options.pluginPath`, or the one beside the program) and starts a session on
// it. Nothing, having said why, when either fails: the command then exits kExitUsageOrLoading.
std::unique_ptr<PluginSession> StartSession(const CommonOptions& options, HostLog& log,
                                            FrameSink& sink);

// The exit status a detection with the limit `limitSeconds` leads to: kExitSuccess when it found
// plates; otherwise, having said why, the failure's status.
int DetectionStatus(const Detection& detection, double limitSeconds);

}  // namespace torva::host
