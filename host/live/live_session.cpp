#include "host/live/live_session.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/capture_preparation.h"
#include "host/command_start.h"
#include "host/exit_status.h"
#include "host/host_services.h"
#include "host/live/command_inbox.h"
#include "host/live/live_feed.h"
#include "host/live/live_server.h"
#include "host/live/trial_recorder.h"
#include "host/plate_placement.h"
#include "tools/signals/termination_request.h"

namespace torva::host {

namespace {

using live::Clock;
using live::CommandKind;
using live::LiveCommand;

constexpr std::chrono::milliseconds kTrialPollInterval{33};
constexpr std::chrono::seconds kConnectionCheckInterval{1};
// How long an ended trial waits for the plates behind to deliver its last frame.
constexpr std::chrono::seconds kTrialEndLimit{2};

// What the server's thread reads for each state message beside the feed.
class TickSource {
 public:
  void SetLayout(std::shared_ptr<const live::LiveLayout> layout) {
    std::lock_guard<std::mutex> lock(mutex_);
    layout_ = std::move(layout);
  }
  void SetRecording(live::RecordingState recording) {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = std::move(recording);
  }
  live::LiveTick Tick(live::LiveFeed& feed) {
    live::LiveTick tick;
    tick.view = feed.TakeView();
    tick.taken = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    tick.layout = layout_;
    tick.recording = recording_;
    return tick;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const live::LiveLayout> layout_;
  live::RecordingState recording_;
};

// The plates of `lab` that `plates` names, in that order.
PlatesInLab Subset(const PlatesInLab& lab, const std::vector<DeviceInstance*>& plates) {
  PlatesInLab subset;
  for (DeviceInstance* plate : plates) {
    for (std::size_t index = 0; index < lab.names.size(); ++index) {
      if (lab.names[index] != plate->Name()) continue;
      subset.names.push_back(lab.names[index]);
      subset.shapes.push_back(lab.shapes[index]);
      subset.placements.push_back(lab.placements[index]);
    }
  }
  return subset;
}

class LiveRun {
 public:
  LiveRun(const LiveOptions& options, std::optional<analysis::LabLayout> layout,
          live::LiveServer& server, live::LiveFeed& feed, PluginSession& session,
          Detection detection)
      : options_(options),
        layout_(std::move(layout)),
        server_(server),
        feed_(feed),
        session_(session),
        detection_(std::move(detection)),
        folder_(std::filesystem::absolute(options.trialsPath).lexically_normal().string()) {}

  // Acquires until a page presses Quit or the program is asked to end; the exit status.
  int Run() {
    server_.Start({[this] { return source_.Tick(feed_); },
                   [this](const LiveCommand& command) { inbox_.Push(command); },
                   [this](const std::string& text) { Refused(text); }});
    PublishTrials();
    if (const int status = Prepare()) return Finish(status);
    std::printf("live view: http://%s:%u/ (Ctrl-C or the page's Quit ends it)\n",
                DisplayAddress().c_str(), static_cast<unsigned>(server_.Port()));
    std::fflush(stdout);
    auto nextCheck = Clock::now() + kConnectionCheckInterval;
    while (!quit_) {
      if (const int signal = tools::TerminationSignal()) {
        Say(std::string("ended by ") + tools::TerminationSignalName(signal));
        return Finish(tools::TerminationStatus(signal));
      }
      TakeTrialBlocks(Clock::now() + kTrialPollInterval);
      for (const LiveCommand& command : inbox_.Take()) Handle(command);
      if (Clock::now() >= nextCheck) {
        CheckConnections();
        nextCheck = Clock::now() + kConnectionCheckInterval;
      }
    }
    return Finish(kExitSuccess);
  }

 private:
  std::string DisplayAddress() const {
    return options_.listen.find(':') != std::string::npos ? "[" + options_.listen + "]"
                                                          : options_.listen;
  }

  // Prepares and starts acquisition on the detected plates and tells the pages where they are.
  int Prepare() {
    DeviceInstance& shared = *detection_.shared;
    if (const int status = PrepareCapture(
            shared, detection_.plates, {options_.rate, options_.sync, options_.threshold},
            prepared_)) {
      return status;
    }
    const PlatesInLab all = PlacePlates(layout_, detection_.plates);
    auto layout = std::make_shared<live::LiveLayout>();
    layout->rate = prepared_.rate;
    for (std::size_t index = 0; index < all.names.size(); ++index) {
      layout->plates.push_back({all.names[index], IsConnected(*detection_.plates[index]),
                                all.shapes[index], all.placements[index]});
    }
    trialSetup_.folder = folder_;
    trialSetup_.lab = Subset(all, prepared_.plates);
    trialSetup_.columns = prepared_.columns;
    trialSetup_.heading = {session_.PluginPath(), options_.rate,           prepared_.rate,
                           prepared_.ticks,       HostServices::kClockRate, LayoutLines(trialSetup_.lab)};
    trialSetup_.syncMode = SyncModeName(options_.sync);
    feed_.SetPlates(all.names);
    Publish(std::move(layout));
    StartCapture(session_, shared, detection_.plates);
    return kExitSuccess;
  }

  void Publish(std::shared_ptr<const live::LiveLayout> layout) {
    server_.PublishLayout(live::LayoutMessage(*layout));
    layoutNow_ = layout;
    source_.SetLayout(std::move(layout));
  }

  void Handle(const LiveCommand& command) {
    switch (command.kind) {
      case CommandKind::kZero:
        if (BroadcastZero(*detection_.shared)) Notice(false, "zero sent to every plate");
        return;
      case CommandKind::kBlink:
        return BlinkPlate(command.plate);
      case CommandKind::kRecord:
        return BeginTrial();
      case CommandKind::kStop:
        return EndTrial();
      case CommandKind::kRescan:
        return RescanPlates();
      case CommandKind::kQuit:
        Say("a page pressed Quit");
        quit_ = true;
        return;
    }
  }

  // The plugin ends acquisition to send the blink; it starts again at once.
  void BlinkPlate(const std::string& name) {
    if (trial_) return Notice(true, "a blink pauses acquisition: stop the trial first");
    for (DeviceInstance* plate : detection_.plates) {
      if (plate->Name() != name) continue;
      StopCapture(*detection_.shared, detection_.plates);
      const bool blinked = Blink(*plate);
      if (Prepare() != kExitSuccess) return Notice(true, "acquisition could not start again");
      if (blinked) Notice(false, "plate " + name + " blinks");
      return;
    }
    Notice(true, "no plate " + name + " to blink");
  }

  void BeginTrial() {
    if (trial_) return Notice(true, trial_->Name() + " is recording already");
    const int number = live::NextTrialNumber(folder_);
    const std::optional<std::int64_t> first = feed_.BeginTrial();
    std::string error;
    trial_ = live::TrialRecorder::Open(trialSetup_, number, first, error);
    if (!trial_) {
      feed_.CloseTrial();
      feed_.TakeTrialBlocks(Clock::now());
      return Notice(true, live::TrialName(number) + " cannot be recorded: " + error);
    }
    source_.SetRecording({true, trial_->Name(), 0});
    Notice(false, trial_->Name() + " recording");
  }

  // Stop: the trial ends at the newest frame any plate has delivered; it is closed once the other
  // plates have delivered up to there too (see TakeTrialBlocks).
  void EndTrial() {
    if (!trial_ || trial_->Ended()) return Notice(true, "no trial is recording");
    trial_->SetLastFrame(feed_.EndTrial());
    trialEndLimit_ = Clock::now() + kTrialEndLimit;
    TakeTrialBlocks(Clock::now());
  }

  // Hands the blocks of the trial to its files and closes an ended trial once it is complete (or
  // a plate that stopped delivering has had its time). A failed write ends the trial at once,
  // keeping what was written.
  void TakeTrialBlocks(Clock::time_point until) {
    const std::vector<FrameBlock> blocks = feed_.TakeTrialBlocks(until);
    if (!trial_) return;
    for (const FrameBlock& block : blocks) trial_->Add(block);
    const auto failure = trial_->Failure();
    const bool complete = trial_->Ended() && (!trial_->LastFrame() ||
                                              feed_.Reached(*trial_->LastFrame()) ||
                                              Clock::now() >= trialEndLimit_);
    if (failure || complete) {
      if (failure) Notice(true, *failure);
      if (!trial_->Ended()) trial_->SetLastFrame(feed_.EndTrial());
      feed_.CloseTrial();
      for (const FrameBlock& block : feed_.TakeTrialBlocks(Clock::now())) trial_->Add(block);
      return CloseTrial();
    }
    source_.SetRecording({true, trial_->Name(),
                          prepared_.rate > 0 ? trial_->Frames() / prepared_.rate : 0});
  }

  // Completes the trial's files and lists the trial on the pages.
  void CloseTrial() {
    live::TrialRecord record;
    const bool written = trial_->Finish(record);
    trial_.reset();
    source_.SetRecording({});
    if (record.frames == 0) return Notice(true, record.name + " holds no frame: nothing was kept");
    char text[160];
    std::snprintf(text, sizeof text, "%s: %.2f s, %llu frames%s", record.name.c_str(),
                  record.seconds, static_cast<unsigned long long>(record.frames),
                  written ? "" : ", cut short by a failed write");
    Notice(!written, text);
    trials_.push_back(record);
    PublishTrials();
  }

  void RescanPlates() {
    if (trial_) return Notice(true, "stop the trial before a rescan");
    Notice(false, "detecting the plates again");
    StopCapture(*detection_.shared, detection_.plates);
    detection_ = Rescan(session_, *detection_.shared,
                        Milliseconds(options_.common.detectTimeoutSeconds));
    if (detection_.outcome != DetectionOutcome::kPlatesFound)
      Notice(true, "the detection found no plate or failed; see the log");
    if (Prepare() != kExitSuccess) {
      Notice(true, "acquisition could not start again; see the log");
    } else {
      Notice(false, std::to_string(prepared_.plates.size()) + " plates connected");
    }
  }

  // The plugin learns of a lost amplifier when asked for its status: a plate that went shows as
  // disconnected on the pages.
  void CheckConnections() {
    detection_.shared->ReadStatus();
    auto layout = std::make_shared<live::LiveLayout>(*layoutNow_);
    bool changed = false;
    for (std::size_t index = 0;
         index < layout->plates.size() && index < detection_.plates.size(); ++index) {
      const bool connected = IsConnected(*detection_.plates[index]);
      changed = changed || connected != layout->plates[index].connected;
      layout->plates[index].connected = connected;
    }
    if (changed) Publish(std::move(layout));
  }

  void Refused(const std::string& text) {
    if (refusedLogged_.exchange(true)) return;
    Say("ignored a message from a page that is no command (said once): " + text.substr(0, 80));
  }

  void Notice(bool error, const std::string& text) {
    Say(text);
    server_.PublishNotice(live::NoticeMessage(error, text));
  }

  void PublishTrials() {
    server_.PublishTrials(live::TrialsMessage(folder_, trialSetup_.lab.names, trials_));
  }

  int Finish(int status) {
    if (trial_ && !trial_->Ended()) EndTrial();
    while (trial_) TakeTrialBlocks(Clock::now() + kTrialPollInterval);
    server_.Stop();
    StopCapture(*detection_.shared, detection_.plates);
    return status;
  }

  const LiveOptions& options_;
  const std::optional<analysis::LabLayout> layout_;
  live::LiveServer& server_;
  live::LiveFeed& feed_;
  PluginSession& session_;
  Detection detection_;
  const std::string folder_;
  TickSource source_;
  live::CommandInbox inbox_;
  PreparedCapture prepared_;
  live::TrialSetup trialSetup_;
  std::unique_ptr<live::TrialRecorder> trial_;
  Clock::time_point trialEndLimit_;
  std::vector<live::TrialRecord> trials_;
  std::shared_ptr<const live::LiveLayout> layoutNow_;
  std::atomic<bool> refusedLogged_{false};
  bool quit_ = false;
};

}  // namespace

int RunLive(const LiveOptions& options, HostLog& log) {
  std::optional<analysis::LabLayout> layout;
  if (!ReadLayoutOption(options.layoutPath, layout)) return kExitUsageOrLoading;
  if (const auto problem = live::PrepareTrialFolder(options.trialsPath)) {
    Say(*problem);
    return kExitUsageOrLoading;
  }
  std::string error;
  const std::unique_ptr<live::LiveServer> server =
      live::LiveServer::Bind(options.listen, options.port, error);
  if (!server) {
    Say(error);
    return kExitUsageOrLoading;
  }
  if (!server->LoopbackOnly()) {
    Say("warning: listening on " + options.listen +
        ": anyone who reaches this machine on that network can watch the plates and press the "
        "page's buttons");
  }
  live::LiveFeed feed;
  const std::unique_ptr<PluginSession> session = StartSession(options.common, log, feed);
  if (!session) return kExitUsageOrLoading;
  Detection detection = DetectPlates(*session, Milliseconds(options.common.detectTimeoutSeconds));
  if (const int status = DetectionStatus(detection, options.common.detectTimeoutSeconds))
    return status;
  LiveRun run(options, std::move(layout), *server, feed, *session, std::move(detection));
  return run.Run();
}

}  // namespace torva::host
