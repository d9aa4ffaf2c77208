// torva-host as shipped: it loads the plugin beside it at run time and captures the emulated
// plates (TORVA_SIMULATE) into CSV; it refuses what it cannot use with the statuses it documents.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/command_run.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/wait_until.h"

namespace torva::e2e {
namespace {

constexpr const char* kTorvaHost = TORVA_HOST_PATH;
constexpr const char* kPluginPath = TORVA_PLUGIN_PATH;
constexpr const char* kCaptureFilesCheck = TORVA_CAPTURE_FILES_CHECK;
// Python runs without the preloads this program hands its children (the emulated USB bus, a
// sanitizer's runtime), which are not meant for it.
const std::vector<std::string> kPython = {"/usr/bin/env", "-u", "LD_PRELOAD", "/usr/bin/python3"};
constexpr const char* kC3dReader = TORVA_C3D_READER;
// Two plates, the second moved and turned a quarter turn.
constexpr const char* kLayout =
    "[TA601201P048311]\nx_mm = 0\ny_mm = 0\n\n"
    "[TA601202P048318]\nx_mm = 700\ny_mm = 100\nrotation_deg = 90\n";
constexpr std::chrono::seconds kCommandLimit{40};
constexpr int kCaptureSeconds = 3;
constexpr int kRateHz = 1000;
constexpr std::size_t kValuesPerPlate = 9;
constexpr double kSamplesPerPacket = 16;
// The emulated plates carry a standing person: |Fz| stays within a person's weight range.
constexpr double kLargestPlausibleFz = 2000.0;

std::vector<std::string> Command(std::vector<std::string> program,
                                 const std::vector<std::string>& arguments) {
  program.insert(program.end(), arguments.begin(), arguments.end());
  return program;
}

// Checks the data rows of a two-plate CSV: every cell filled, Fz finite and within a person's
// range, time_s = frame / rate, frame numbers contiguous. Returns how many rows there were.
double CheckRows(const std::vector<std::string>& rows, std::size_t columns) {
  long long previous = 0;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const auto cells = Split(rows[row], ',');
    EXPECT_EQ(cells.size(), columns) << rows[row];
    if (cells.size() != columns) break;
    const long long frame = std::stoll(cells[0]);
    if (row > 0 && frame != previous + 1) {
      ADD_FAILURE() << "frame " << frame << " follows " << previous;
      break;
    }
    previous = frame;
    EXPECT_NEAR(std::stod(cells[1]), static_cast<double>(frame) / kRateHz, 1e-6);
    for (const std::size_t fz : {std::size_t{4}, std::size_t{4 + kValuesPerPlate}}) {
      const double value = std::stod(cells[fz]);
      EXPECT_TRUE(std::isfinite(value) && std::fabs(value) <= kLargestPlausibleFz) << rows[row];
    }
  }
  return static_cast<double>(rows.size());
}

// Reads a two-plate CSV written by torva-host and checks its rows after the comments and header.
double CheckCsv(const std::string& path) {
  std::vector<std::string> rows;
  std::ifstream csv(path);
  for (std::string line; std::getline(csv, line);)
    if (!line.empty() && line[0] != '#' && line.rfind("frame", 0) != 0) rows.push_back(line);
  return CheckRows(rows, 2 + 2 * kValuesPerPlate);
}

class TorvaHost : public testing::ScratchDirectory {
 protected:
  // Whether the independent C3D reader reads the file whole (every frame its counts promise) and
  // finds frames in it.
  ::testing::AssertionResult ReadsAsC3d(const std::string& path) {
    const CommandRun read =
        RunCommand(Command(kPython, {kC3dReader, path}), Path("read.out"), Path("read.err"),
                   kCommandLimit);
    const std::string key = "\n \"frames\": ";
    const std::size_t frames = read.out.find(key);
    if (read.exit.finished && read.exit.status == 0 && frames != std::string::npos &&
        std::stol(read.out.substr(frames + key.size())) > 0)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << read.out << read.err;
  }
  void TearDown() override {
    ::unsetenv("TORVA_SIMULATE");
    ScratchDirectory::TearDown();
  }
  CommandRun Run(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> command = prefix;
    command.push_back(kTorvaHost);
    command.insert(command.end(), arguments.begin(), arguments.end());
    CommandRun run = RunCommand(command, Path("stdout"), Path("stderr"), kCommandLimit);
    EXPECT_TRUE(run.started);
    return run;
  }
};

TEST_F(TorvaHost, CapturesTwoEmulatedPlatesIntoContiguousCommonFrames) {
  ::setenv("TORVA_SIMULATE", "2", 1);
  const CommandRun run = Run({"capture", "--seconds", std::to_string(kCaptureSeconds), "--output",
                              Path("capture.csv"), "--log", Path("plugin.log")});
  ASSERT_TRUE(run.exit.finished);
  ASSERT_EQ(run.exit.status, 0) << run.err;
  EXPECT_NE(run.err.find("[info] Detected 2 Torva digital devices"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("0 warnings, 0 errors"), std::string::npos) << run.err;
  EXPECT_NE(ReadFile(Path("plugin.log")).find(" trace ::fmDLLInit"), std::string::npos);

  std::vector<std::string> lines = Split(ReadFile(Path("capture.csv")), '\n');
  std::vector<std::string> comments;
  while (!lines.empty() && lines.front().rfind("# ", 0) == 0) {
    comments.push_back(lines.front());
    lines.erase(lines.begin());
  }
  ASSERT_EQ(comments.size(), 6u);
  // Without a layout file the plates stand in the default row, the first at the lab's origin.
  EXPECT_NE(comments[4].find(" x_mm=0 y_mm=0 z_mm=0 rotation_deg=0"), std::string::npos);
  EXPECT_EQ(comments[5].rfind("# layout: ", 0), 0u) << comments[5];
  EXPECT_EQ(comments[0], std::string("# plugin: ") +
                             std::filesystem::path(kPluginPath).lexically_normal().string());
  EXPECT_EQ(comments[3],
            "# rate: requested 1000, applied 1000 samples/s (36000000 / 36000 ticks "
            "per sample)");
  ASSERT_FALSE(lines.empty());
  const auto header = Split(lines.front(), ',');
  ASSERT_EQ(header.size(), 2 + 2 * kValuesPerPlate);
  EXPECT_EQ(header[0], "frame");
  EXPECT_EQ(header[1], "time_s");
  const std::string firstPlate = header[2].substr(0, header[2].find('.'));
  const std::string secondPlate = header[11].substr(0, header[11].find('.'));
  EXPECT_NE(firstPlate, secondPlate);
  EXPECT_EQ(header[4], firstPlate + ".Fz_N");
  EXPECT_EQ(header[19], secondPlate + ".Cz_m");

  lines.erase(lines.begin());
  EXPECT_GE(CheckRows(lines, header.size()), kSamplesPerPacket);
}

// The files for analysis, read as analysis tools read them (an independent C3D reader, the C3D
// format's force-platform computation): each loaded sample's CoP and Fz in the lab where the CSV
// and the layout put them, and a motion-file row per CSV row with vy = -Fz; detect writes the
// layout in force.
TEST_F(TorvaHost, WritesC3dAndMotionFilesThatAgreeWithTheCsvInTheLab) {
  ::setenv("TORVA_SIMULATE", "2", 1);
  WriteFile(Path("lab.ini"), kLayout);
  const CommandRun run =
      Run({"capture", "--seconds", std::to_string(kCaptureSeconds), "--layout", Path("lab.ini"),
           "--output", Path("t.csv"), "--c3d", Path("t.c3d"), "--mot", Path("t.mot")});
  ASSERT_TRUE(run.exit.finished);
  ASSERT_EQ(run.exit.status, 0) << run.err;
  const CommandRun check =
      RunCommand(Command(kPython, {kCaptureFilesCheck, Path("t.csv"), Path("t.c3d"),
                                   Path("t.mot")}),
                 Path("check.out"), Path("check.err"), kCommandLimit);
  ASSERT_TRUE(check.exit.finished);
  EXPECT_EQ(check.exit.status, 0) << check.out << check.err;
  EXPECT_EQ(check.out.rfind("ok: ", 0), 0u) << check.out;
  EXPECT_NE(std::stol(check.out.substr(4)), 0) << check.out;  // loaded samples were compared

  const CommandRun detect =
      Run({"detect", "--layout", Path("lab.ini"), "--write-layout", Path("written.ini")});
  ASSERT_TRUE(detect.exit.finished);
  EXPECT_EQ(detect.exit.status, 0) << detect.err;
  const std::string written = ReadFile(Path("written.ini"));
  const std::size_t second = written.find("[TA601202P048318]");
  ASSERT_NE(second, std::string::npos) << written;
  EXPECT_NE(written.find("x_mm = 700", second), std::string::npos) << written;
  EXPECT_NE(written.find("rotation_deg = 90", second), std::string::npos) << written;
}

// The same capture over the real libusb path: the emulated amplifiers answer usbfs requests.
// The emulated bus serves its requests from a user-space thread, which falls behind real time on
// a loaded machine; the capture is judged against what the amplifiers actually sent: every frame
// of the CSV contiguous, none that was not sent, nothing missing or reported lost.
TEST_F(TorvaHost, CapturesOverTheRealUsbPath) {
  const CommandRun run =
      Run({"capture", "--seconds", std::to_string(kCaptureSeconds), "--output", Path("capture.csv")},
          {TORVA_USBFS_RUN_PATH, "--amplifiers", "2", "--statistics", "--"});
  ASSERT_TRUE(run.exit.finished) << run.err;
  ASSERT_EQ(run.exit.status, 0) << run.err;
  EXPECT_NE(run.err.find("[info] Detected 2 Torva digital devices"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("0 warnings, 0 errors"), std::string::npos) << run.err;
  const std::vector<long long> sent = StreamingPacketsSent(run.err);
  ASSERT_EQ(sent.size(), 2u) << run.err;
  const double rows = CheckCsv(Path("capture.csv"));
  EXPECT_GE(rows, kSamplesPerPacket);
  EXPECT_LE(rows, kSamplesPerPacket * static_cast<double>(std::min(sent[0], sent[1])));
  for (const std::string& line : Split(run.err, '\n')) {
    if (line.find(" samples, frames ") != std::string::npos) {
      EXPECT_NE(line.find(", 0 missing,"), std::string::npos) << line;
    }
  }
}

// Over the real libusb path, an amplifier pulled out in mid-capture: the stall is reported with
// exit status 4, what arrived before is kept, and the program ends cleanly.
TEST_F(TorvaHost, AnAmplifierUnpluggedInMidCaptureEndsTheCaptureAsStalled) {
  const CommandRun run =
      Run({"capture", "--seconds", "20", "--stall", "1", "--output", Path("capture.csv")},
          {TORVA_USBFS_RUN_PATH, "--amplifiers", "2", "--unplug", "1@9", "--"});
  ASSERT_TRUE(run.exit.finished) << run.err;
  EXPECT_EQ(run.exit.status, 4) << run.err;
  EXPECT_NE(run.err.find("acquisition has stalled"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("amplifier 1 unplugged"), std::string::npos) << run.err;
  // The lost plate is named, and its loss counts as an error.
  EXPECT_NE(run.err.find("; plate TA601202P048318 is no longer connected"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("0 warnings, 1 errors"), std::string::npos) << run.err;
  // Rows of both plates arrived before the unplug, every frame of them.
  EXPECT_GT(CheckCsv(Path("capture.csv")), 16);
}

// A run that records nothing leaves an earlier recording of the same name as it was.
TEST_F(TorvaHost, NoPlatesEndsWithStatusTwoAndLeavesAnEarlierFileAlone) {
  ::setenv("TORVA_SIMULATE", "0", 1);
  WriteFile(Path("capture.csv"), "an earlier recording\n");
  const CommandRun run = Run({"capture", "--seconds", "1", "--output", Path("capture.csv")});
  ASSERT_TRUE(run.exit.finished);
  EXPECT_EQ(run.exit.status, 2) << run.err;
  EXPECT_NE(run.err.find("no plates detected"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFile(Path("capture.csv")), "an earlier recording\n");
}

// A disk that fills during the capture (here a file-size limit): the capture ends with status 1,
// naming the file and the reason, the plugin is shut down and the summary printed, and the CSV
// holds whole, contiguous rows up to where the disk ran out.
TEST_F(TorvaHost, AFullDiskEndsTheCaptureWithStatusOneAndWholeRows) {
  ::setenv("TORVA_SIMULATE", "2", 1);
  const CommandRun run =
      Run({"capture", "--seconds", "30", "--output", Path("capture.csv"), "--c3d",
           Path("capture.c3d")},
          {"/bin/sh", "-c", "ulimit -f 128 && exec \"$0\" \"$@\""});
  ASSERT_TRUE(run.exit.finished);
  EXPECT_EQ(run.exit.status, 1) << run.err;
  EXPECT_NE(run.err.find("cannot write " + Path("capture.csv") + ": File too large"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(" warnings, "), std::string::npos) << run.err;
  EXPECT_GE(CheckCsv(Path("capture.csv")), kSamplesPerPacket);
  // The C3D file, cut at its last whole frame, says how many frames it holds.
  EXPECT_TRUE(ReadsAsC3d(Path("capture.c3d")));
}

// Ctrl-C in mid-capture, once rows are being written: the capture ends as if its time were up,
// with status 130, the summary, the plugin shut down (its last log line) and whole rows kept.
TEST_F(TorvaHost, SigintEndsTheCaptureCleanlyKeepingWhatWasRecorded) {
  ::setenv("TORVA_SIMULATE", "2", 1);
  ChildProcess child({kTorvaHost, "capture", "--seconds", "60", "--output", Path("capture.csv"),
                      "--c3d", Path("capture.c3d"), "--log", Path("plugin.log")},
                     Path("stdout"), Path("stderr"));
  ASSERT_TRUE(child.Started());
  const auto rowsWritten = [&] {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
      if (entry.path().filename().string().rfind("capture.csv.partial-", 0) != 0) continue;
      const auto size = std::filesystem::file_size(entry.path(), error);
      return !error && size > 0;
    }
    return false;
  };
  ASSERT_TRUE(testing::WaitUntil(rowsWritten));
  ASSERT_EQ(::kill(child.Pid(), SIGINT), 0);
  const ChildExit exit = child.Wait(kCommandLimit);
  const std::string err = ReadFile(Path("stderr"));
  ASSERT_TRUE(exit.finished);
  EXPECT_EQ(exit.status, 130) << err;
  EXPECT_NE(err.find("interrupted by SIGINT"), std::string::npos) << err;
  EXPECT_NE(err.find(" warnings, "), std::string::npos) << err;
  EXPECT_NE(ReadFile(Path("plugin.log")).find("::fmDLLShutDown"), std::string::npos);
  EXPECT_GE(CheckCsv(Path("capture.csv")), kSamplesPerPacket);
  EXPECT_TRUE(ReadsAsC3d(Path("capture.c3d")));
}

TEST_F(TorvaHost, APluginWithoutItsDriverLibraryIsRefusedNamingIt) {
  std::filesystem::create_directories(Path("alone"));
  std::filesystem::copy_file(kPluginPath, Path("alone/libTorvaplugin.so"));
  const CommandRun run = Run({"definitions", "--plugin", Path("alone/libTorvaplugin.so")});
  ASSERT_TRUE(run.exit.finished);
  EXPECT_EQ(run.exit.status, 1) << run.err;
  EXPECT_NE(run.err.find("libTorvaUSBDevice.so"), std::string::npos) << run.err;
}

TEST_F(TorvaHost, AMissingPluginFileIsRefusedNamingIt) {
  const CommandRun run = Run({"definitions", "--plugin", Path("nowhere/libTorvaplugin.so")});
  ASSERT_TRUE(run.exit.finished);
  EXPECT_EQ(run.exit.status, 1) << run.err;
  EXPECT_NE(run.err.find(Path("nowhere/libTorvaplugin.so")), std::string::npos) << run.err;
}

TEST_F(TorvaHost, DefinitionsListsTheFourteenDeclaredDefinitions) {
  const CommandRun run = Run({"definitions"});
  ASSERT_TRUE(run.exit.finished);
  ASSERT_EQ(run.exit.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("14 definitions\n", 0), 0u) << run.out;
  const auto lines = Split(run.out, '\n');
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.rfind("\"Torva\" ", 0) == 0; }),
            14);
  EXPECT_NE(run.out.find("output CoP (code 1): Cx, Cy, Cz"), std::string::npos);

  // A listing that cannot be written fails as any output would.
  const CommandRun full =
      Run({"definitions"}, {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full"});
  ASSERT_TRUE(full.exit.finished);
  EXPECT_EQ(full.exit.status, 1) << full.err;
  EXPECT_NE(full.err.find("writing standard output failed: No space left on device"),
            std::string::npos)
      << full.err;
}

TEST_F(TorvaHost, BadOptionsAreRefusedBeforeAnythingStarts) {
  const std::vector<std::vector<std::string>> refused = {
      {"capture", "--seconds", "-1"},
      {"capture", "--sync", "sometimes"},
      {"capture", "--output", Path("no/such/folder/out.csv")},
      {"capture", "--output", Path("out.csv"), "--plot", Path("p.png\n!touch injected")},
      {"capture", "--rate", "1000\n# a line of its own"},
      {"capture", "--c3d", Path("t.c3d\n")},
      {"capture", "--layout", Path("bad.ini")},
      {"detect", "--layout", Path("no-such.ini")},
      {"capture", "--no-such-option"},
      {"no-such-command"},
  };
  WriteFile(Path("bad.ini"), "[TA601201P048311]\nx_mm = 0\ny_mm = 0\nrotation = 90\n");
  for (const auto& arguments : refused) {
    const CommandRun run = Run(arguments);
    ASSERT_TRUE(run.exit.finished);
    EXPECT_EQ(run.exit.status, 1) << arguments[1 % arguments.size()];
    EXPECT_NE(run.err.find("torva-host: "), std::string::npos) << run.err;
    // Nothing was started: no plugin line was logged.
    EXPECT_EQ(run.err.find("[info]"), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace torva::e2e
