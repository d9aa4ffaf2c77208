#pragma once
// The messages between the live page and the program, as JSON text.
//
// To the page: "layout" (the plates, where they stand, the rate; on connecting and after every
// detection), "state" (about 30 a second: the latest values of the frame shown, the Fz range over
// the interval, the CoP in the lab, the stream's counts and how old the newest block was when the
// message was made, the trial being recorded), "trials" (the
// trials recorded; on connecting and when a trial ends) and "notice" (what a command did, what
// went wrong). From the page: {"command": ...} with one of the names below, and "plate" for a
// blink; anything else is not a command.
//
// Threads: none; plain functions.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/analysis/plate_geometry.h"
#include "host/live/live_picture.h"
#include "host/live/trial_recorder.h"

namespace torva::host::live {

struct LivePlate {
  std::string name;
  bool connected = true;
  analysis::PlateShape shape;
  analysis::LabPlacement placement;
};

// What the page draws the plates from; the plates in the order of the views' plates.
struct LiveLayout {
  double rate = 0;
  std::vector<LivePlate> plates;
};

struct RecordingState {
  bool active = false;
  std::string trial;  // while active
  double seconds = 0;
};

// What one state message is made of.
struct LiveTick {
  LiveView view;
  Clock::time_point taken;  // when the view was taken
  std::shared_ptr<const LiveLayout> layout;
  RecordingState recording;
};

std::string LayoutMessage(const LiveLayout& layout);
// `lostMessages`: state messages this client lost to its slowness; `clients`: pages connected.
std::string StateMessage(const LiveTick& tick, std::uint64_t lostMessages, std::size_t clients);
std::string TrialsMessage(const std::string& folder, const std::vector<std::string>& plates,
                          const std::vector<TrialRecord>& trials);
std::string NoticeMessage(bool error, const std::string& text);

enum class CommandKind { kZero, kBlink, kRecord, kStop, kRescan, kQuit };

struct LiveCommand {
  CommandKind kind = CommandKind::kZero;
  std::string plate;  // kBlink: the plate's name
};

// The command the text holds; nothing when it is not JSON, not an object or not one of the set.
std::optional<LiveCommand> ParseCommand(const std::string& text);

}  // namespace torva::host::live
