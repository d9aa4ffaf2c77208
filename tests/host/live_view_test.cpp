// The live view's parts without a plugin: what a view shows, which frames a trial holds, the
// trial files and their numbering, the server's routing rules and the messages.

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <numeric>
#include <sstream>

#include "host/live/live_feed.h"
#include "host/live/live_messages.h"
#include "host/live/live_picture.h"
#include "host/live/live_routes.h"
#include "host/live/trial_recorder.h"
#include "tests/host/frame_blocks.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/scratch_directory.h"

namespace torva::host::live {
namespace {

FrameBlock Block(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
                 float fzOffset = 0) {
  return testing::FzBlock(device, firstFrame, samples, fzOffset);
}

void Deliver(FrameSink& sink, const FrameBlock& block) {
  sink.Deliver(block.device, block.firstFrame, block.samples, block.outputs.data(),
               static_cast<std::uint32_t>(block.outputs.size()), block.values.data(),
               static_cast<std::uint32_t>(block.values.size()));
}

float Fz(const PlateReading& reading) { return (*reading.sample)[kFzIndex]; }

// Plates push one after the other: the view shows the newest frame both have, each plate's own
// sample of it (not the newer one plate A already pushed), and the Fz range of everything since
// the last view, so no peak between two views is lost.
TEST(LivePicture, ShowsTheNewestFrameEveryPlateHasAndTheFzRangeBetweenViews) {
  LivePicture picture({"A", "B"});
  picture.Add(Block("A", 0, 16), Clock::now());
  picture.Add(Block("B", 0, 8, 1000), Clock::now());
  picture.Add(Block("X", 0, 64), Clock::now());  // not a plate of the view
  LiveView view = picture.Take();
  ASSERT_EQ(view.frame, 7);
  EXPECT_EQ(Fz(view.plates[0]), 7);
  EXPECT_EQ(Fz(view.plates[1]), 1007);
  EXPECT_EQ(view.plates[0].fzMin, 0);
  EXPECT_EQ(view.plates[0].fzMax, 15);
  EXPECT_EQ(view.frames, 16u);

  view = picture.Take();  // nothing new: no range, the same frame
  EXPECT_EQ(view.frame, 7);
  EXPECT_FALSE(view.plates[0].fzMin);
}

// Frames skipped are counted missing, samples for frames a plate had passed are dropped and
// counted; a plate far behind (unplugged) no longer holds the others' view back.
TEST(LivePicture, CountsGapsAndLateSamplesAndLetsAPlateThatFellBehindGo) {
  LivePicture picture({"A", "B"});
  picture.Add(Block("B", 0, 4, 1000), Clock::now());
  picture.Add(Block("A", 0, 16), Clock::now());
  picture.Add(Block("A", 20, 4), Clock::now());
  picture.Add(Block("A", 10, 2), Clock::now());
  LiveView view = picture.Take();
  EXPECT_EQ(view.missing, 4u);
  EXPECT_EQ(view.dropped, 2u);
  EXPECT_EQ(view.frame, 3);

  picture.Add(Block("A", 24, LivePicture::kHistoryFrames), Clock::now());
  view = picture.Take();
  EXPECT_EQ(view.frame, 24 + LivePicture::kHistoryFrames - 1);
  EXPECT_EQ(Fz(view.plates[0]), 24 + LivePicture::kHistoryFrames - 1);
  EXPECT_EQ(Fz(view.plates[1]), 1003);  // its newest
}

class TrialTest : public testing::ScratchDirectory {
 protected:
  TrialSetup Setup() const {
    TrialSetup setup;
    setup.folder = Path("trials");
    setup.lab.names = {"A", "B"};
    setup.lab.shapes = {{0.6, 0.4, 0, 0, 0}, {0.6, 0.4, 0, 0, 0}};
    setup.lab.placements = {{0, 0, 0, 0}, {700, 0, 0, 90}};
    setup.columns = {{"A", "a"}, {"B", "b"}};
    setup.heading = {"plugin", "1000", 1000, 1000, 1000000, {}};
    setup.syncMode = "Software trigger";
    return setup;
  }

  // The frame numbers of a trial's CSV rows.
  std::vector<std::int64_t> CsvFrames(const std::string& name) const {
    std::istringstream csv(ReadFile(Path("trials/" + name)));
    std::vector<std::int64_t> frames;
    std::string line;
    while (std::getline(csv, line)) {
      if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
        frames.push_back(std::stoll(line));
    }
    return frames;
  }
};

// Record is pressed once frame 15 of plate A has arrived, Stop once frame 31 of plate A has (B
// is at 23 then): the trial holds frames 16 to 31 of both plates, no more, no less, though the
// blocks of the two plates straddle both ends.
TEST_F(TrialTest, ATrialHoldsExactlyTheFramesBetweenRecordAndStop) {
  ASSERT_FALSE(PrepareTrialFolder(Path("trials")));
  LiveFeed feed;
  feed.SetPlates({"A", "B"});
  Deliver(feed, Block("A", 0, 16));
  Deliver(feed, Block("B", 0, 8));
  const std::optional<std::int64_t> first = feed.BeginTrial();
  ASSERT_EQ(first, 16);
  std::string error;
  auto trial = TrialRecorder::Open(Setup(), NextTrialNumber(Path("trials")), first, error);
  ASSERT_TRUE(trial) << error;
  for (const auto& block : {Block("B", 8, 16), Block("A", 16, 16)}) Deliver(feed, block);
  for (const FrameBlock& block : feed.TakeTrialBlocks(Clock::now())) trial->Add(block);
  const std::optional<std::int64_t> last = feed.EndTrial();
  ASSERT_EQ(last, 31);
  trial->SetLastFrame(last);
  EXPECT_FALSE(feed.Reached(31));
  Deliver(feed, Block("B", 24, 16));  // B's frames up to the end, and beyond
  EXPECT_TRUE(feed.Reached(31));
  feed.CloseTrial();
  Deliver(feed, Block("A", 32, 16));  // after the trial
  for (const FrameBlock& block : feed.TakeTrialBlocks(Clock::now())) trial->Add(block);

  TrialRecord record;
  ASSERT_TRUE(trial->Finish(record));
  EXPECT_EQ(record.name, "trial-001");
  EXPECT_EQ(record.frames, 16u);
  EXPECT_EQ(record.firstFrame, 16);
  EXPECT_EQ(record.lastFrame, 31);
  EXPECT_EQ(record.peakFz, (std::vector<double>{31, 31}));
  EXPECT_EQ(record.files, (std::vector<std::string>{"trial-001.c3d", "trial-001.csv"}));
  std::vector<std::int64_t> expected(16);
  std::iota(expected.begin(), expected.end(), 16);
  EXPECT_EQ(CsvFrames("trial-001.csv"), expected);
  // Every row whole: no cell left empty for a plate.
  EXPECT_EQ(ReadFile(Path("trials/trial-001.csv")).find(",,"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Path("trials/trial-001.c3d")));
}

// Trials are numbered on from the highest number the folder holds; other files do not count.
TEST_F(TrialTest, NumbersGoOnFromTheFolderAndAFailedWriteIsReportedKeepingWholeRows) {
  ASSERT_FALSE(PrepareTrialFolder(Path("trials")));
  for (const char* name : {"trial-007.csv", "trial-012.c3d", "trial-x.csv", "notes.txt"})
    WriteFile(Path(std::string("trials/") + name), "");
  EXPECT_EQ(NextTrialNumber(Path("trials")), 13);
  EXPECT_EQ(TrialName(13), "trial-013");

  std::string error;
  auto trial = TrialRecorder::Open(Setup(), 13, 0, error);
  ASSERT_TRUE(trial) << error;
  {
    testing::FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Applied());
    for (std::int64_t frame = 0; frame < 4096; frame += 16) {
      trial->Add(Block("A", frame, 16));
      trial->Add(Block("B", frame, 16));
      if (trial->Failure()) break;
    }
    ASSERT_TRUE(trial->Failure());
    trial->SetLastFrame(std::nullopt);
    TrialRecord record;
    EXPECT_FALSE(trial->Finish(record));
    EXPECT_GT(record.frames, 0u);
  }
  const std::vector<std::int64_t> frames = CsvFrames("trial-013.csv");
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back() - frames.front() + 1, static_cast<std::int64_t>(frames.size()));
  EXPECT_EQ(ReadFile(Path("trials/trial-013.csv")).back(), '\n');

  WriteFile(Path("not-a-folder"), "");
  EXPECT_TRUE(PrepareTrialFolder(Path("not-a-folder")));
}

TEST(LiveRoutes, OnlyThePagesOwnOriginOpensTheStreamAndOnlyThePageIsServed) {
  struct Case {
    RouteRequest request;
    RouteKind expected;
  };
  const std::string_view host = "127.0.0.1:8080";
  const Case cases[] = {
      {{"GET", "/", false, host, "", true}, RouteKind::kPageFile},
      {{"GET", "/live.js?v=2", false, host, "", true}, RouteKind::kPageFile},
      {{"GET", "/live.js/", false, host, "", true}, RouteKind::kNotFound},
      {{"GET", "/stream", false, host, "", true}, RouteKind::kNotFound},
      {{"POST", "/", false, host, "", true}, RouteKind::kMethodNotAllowed},
      {{"GET", "/stream", true, host, "http://127.0.0.1:8080", true}, RouteKind::kStream},
      {{"GET", "/stream", true, "localhost:8080", "http://localhost:8080", true},
       RouteKind::kStream},
      {{"GET", "/stream", true, "[::1]:8080", "http://[::1]:8080", true}, RouteKind::kStream},
      {{"GET", "/other", true, host, "http://127.0.0.1:8080", true}, RouteKind::kNotFound},
      {{"GET", "/stream", true, host, "", true}, RouteKind::kForbidden},
      {{"GET", "/stream", true, host, "http://127.0.0.1:8081", true}, RouteKind::kForbidden},
      {{"GET", "/stream", true, host, "http://127.0.0.1:80800", true}, RouteKind::kForbidden},
      {{"GET", "/stream", true, host, "null", true}, RouteKind::kForbidden},
      {{"GET", "/stream", true, "evil.example:8080", "http://evil.example:8080", true},
       RouteKind::kForbidden},
      {{"GET", "/stream", true, "lab-pc:8080", "http://lab-pc:8080", false}, RouteKind::kStream},
      {{"GET", "/stream", true, "", "http://", false}, RouteKind::kForbidden},
  };
  for (const Case& c : cases) {
    const Route route = Decide(c.request);
    EXPECT_EQ(route.kind, c.expected) << c.request.method << " " << c.request.target << " Host "
                                      << c.request.host << " Origin " << c.request.origin;
    if (route.kind == RouteKind::kPageFile) {
      ASSERT_NE(route.file, nullptr);
      EXPECT_FALSE(route.file->body.empty());
    }
  }
}

TEST(LiveMessages, CommandsComeFromAFixedSetAndStateMessagesAreJsonWithNullsWhereUnknown) {
  EXPECT_EQ(ParseCommand(R"({"command":"zero"})")->kind, CommandKind::kZero);
  EXPECT_EQ(ParseCommand(R"({"command":"blink","plate":"A"})")->plate, "A");
  for (const char* text : {R"({"command":"blink"})", R"({"command":"format"})", "zero", "[1]",
                           R"({"command":{"zero":1}})", ""}) {
    EXPECT_FALSE(ParseCommand(text)) << text;
  }

  LiveTick tick;
  auto layout = std::make_shared<LiveLayout>();
  layout->rate = 1000;
  layout->plates = {{"A\"1", true, {}, {}}, {"B", false, {}, {}}};
  tick.layout = layout;
  tick.view.frame = 2000;
  PlateSample loaded{};
  loaded[kFzIndex] = -700;
  tick.view.plates = {{loaded, -710.0f, -690.0f}, {}};
  tick.taken = Clock::now();
  tick.view.newestArrival = tick.taken - std::chrono::milliseconds(5);
  boost::property_tree::ptree state;
  std::istringstream in(StateMessage(tick, 3, 2));
  boost::property_tree::read_json(in, state);
  EXPECT_EQ(state.get<std::int64_t>("frame"), 2000);
  EXPECT_DOUBLE_EQ(state.get<double>("time_s"), 2.0);
  EXPECT_EQ(state.get<int>("status.lost_messages"), 3);
  EXPECT_NEAR(state.get<double>("status.delay_ms"), 5.0, 0.001);
  const auto& plates = state.get_child("plates");
  ASSERT_EQ(plates.size(), 2u);
  const auto& a = plates.begin()->second;
  EXPECT_EQ(a.get<std::string>("name"), "A\"1");
  EXPECT_EQ(a.get<double>("Fz_min"), -710);
  EXPECT_EQ(a.get<std::string>("loaded"), "true");
  EXPECT_EQ(a.get<std::string>("Cx"), "0");  // at the plate's centre, which stands at the origin
  const auto& b = std::next(plates.begin())->second;
  EXPECT_EQ(b.get<std::string>("loaded"), "false");
  EXPECT_EQ(b.get<std::string>("Cx"), "null");
  EXPECT_EQ(b.get<std::string>("connected"), "false");
}

}  // namespace
}  // namespace torva::host::live
