// torvactl, unchanged, under torva-usbfs-run: it lists the emulated amplifiers, prints their
// parameters and streams them through the shipped library and libusb, in a process of its own.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/device/command_set.h"
#include "tests/e2e/command_run.h"
#include "tests/support/process_stats.h"
#include "tests/support/scratch_directory.h"

namespace torva::e2e {
namespace {

constexpr const char* kRunner = TORVA_USBFS_RUN_PATH;
constexpr const char* kTorvactl = TORVACTL_PATH;
constexpr const char* kTwoAmplifiers = "2";
const std::vector<std::string> kSerials = {"TA601201", "TA601202"};
constexpr std::chrono::seconds kCommandLimit{30};

constexpr int kStreamSeconds = 3;
constexpr int kRateHz = 1000;
constexpr int kSamplesPerFrame = 16;
// Columns of a format-1 row with two plates: the counter, then six channels and aux per plate.
constexpr std::size_t kColumns = 1 + 2 * 7;
// Processor time the whole run (testbed and torvactl) may use, as a share of its length: waiting
// for the bus must not keep a processor busy.
constexpr double kMaximumCpuShare = 0.5;

class UsbfsTorvactl : public testing::ScratchDirectory {
 protected:
  // torva-usbfs-run --amplifiers 2 [bench options] -- torvactl <arguments>
  CommandRun RunTorvactl(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& benchOptions = {}) {
    std::vector<std::string> command = {kRunner, "--amplifiers", kTwoAmplifiers};
    command.insert(command.end(), benchOptions.begin(), benchOptions.end());
    command.push_back("--");
    command.push_back(kTorvactl);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return Run(command);
  }
  CommandRun Run(const std::vector<std::string>& command) {
    CommandRun run = RunCommand(command, Path("stdout"), Path("stderr"), kCommandLimit);
    EXPECT_TRUE(run.started);
    return run;
  }
};

std::vector<std::string> Lines(const std::string& text) { return Split(text, '\n'); }

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  std::string word;
  while (stream >> word) words.push_back(word);
  return words;
}

// Whether a line of `text` reads "<label> <value>" (label and value as torvactl info prints them).
bool HasLine(const std::string& text, const std::string& label, const std::string& value) {
  const std::vector<std::string> wanted = Words(label + " " + value);
  for (const std::string& line : Lines(text)) {
    if (Words(line) == wanted) return true;
  }
  return false;
}

struct StreamRows {
  long rows = 0;
  long gaps = 0;       // breaks in the sample counter
  long first = 0;      // the first row's counter
  long malformed = 0;  // rows without a full set of columns
};

// Counts the rows of a stream's CSV (its lines, the header first).
StreamRows CountRows(const std::vector<std::string>& lines) {
  StreamRows counted;
  long previous = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto fields = Split(lines[i], ',');
    if (fields.size() != kColumns) {
      ++counted.malformed;
      continue;
    }
    const long counter = std::stol(fields[0]);
    if (counted.rows > 0 && counter != previous + 1) ++counted.gaps;
    if (counted.rows == 0) counted.first = counter;
    previous = counter;
    ++counted.rows;
  }
  return counted;
}

// The words of the stream summary's line for `plate`: position, plate, samples, dropped, ...
std::vector<std::string> SummaryOf(const std::string& text, const std::string& plate) {
  for (const std::string& line : Lines(text)) {
    const std::vector<std::string> words = Words(line);
    if (words.size() >= 4 && words[1] == plate) return words;
  }
  return {};
}

TEST_F(UsbfsTorvactl, ListsTheEmulatedAmplifiers) {
  const CommandRun run = RunTorvactl({"list"});
  ASSERT_TRUE(run.exit.finished);
  ASSERT_EQ(run.exit.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), kSerials.size()) << run.out;
  for (const std::string& serial : kSerials) {
    EXPECT_NE(run.out.find(serial), std::string::npos) << run.out;
  }
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("1f6d:012c"), std::string::npos) << line;
    EXPECT_NE(line.find("high speed"), std::string::npos) << line;
  }
}

TEST_F(UsbfsTorvactl, PrintsEveryAmplifiersIdentityAndParameters) {
  const CommandRun run = RunTorvactl({"info"});
  ASSERT_TRUE(run.exit.finished);
  ASSERT_EQ(run.exit.status, 0) << run.err;
  for (const std::string& serial : kSerials) {
    EXPECT_TRUE(HasLine(run.out, "amplifier serial", serial)) << run.out;
  }
  EXPECT_TRUE(HasLine(run.out, "platform serial", "P048311")) << run.out;
  EXPECT_TRUE(HasLine(run.out, "platform serial", "P048318")) << run.out;
  EXPECT_TRUE(HasLine(run.out, "acquisition rate", "1000 Hz")) << run.out;
}

// The diagnostic log is silent unless asked for; --verbose shows the bring-up, the setup check
// and the start, one line each with time, thread and place.
TEST_F(UsbfsTorvactl, VerboseLogsTheBringUpSetupCheckAndStartAndQuietLogsNothing) {
  ::unsetenv("TORVA_DEBUG");
  const std::vector<std::string> stream = {"stream", "--seconds", "1", "--output", Path("s.csv")};
  const CommandRun quiet = RunTorvactl(stream);
  ASSERT_TRUE(quiet.exit.finished);
  ASSERT_EQ(quiet.exit.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find(" torva["), std::string::npos) << quiet.err;

  std::vector<std::string> verbose = {"--verbose"};
  verbose.insert(verbose.end(), stream.begin(), stream.end());
  const CommandRun run = RunTorvactl(verbose);
  ASSERT_TRUE(run.exit.finished);
  ASSERT_EQ(run.exit.status, 0) << run.err;
  // The bring-up, the setup check and the start each log a line of their own.
  for (const char* event : {"bring-up: ", "setup check: ", "start: "}) {
    bool found = false;
    for (const std::string& line : Lines(run.err)) {
      if (line.find(" torva[") != std::string::npos && line.find(event) != std::string::npos)
        found = true;
    }
    EXPECT_TRUE(found) << event << " in\n" << run.err;
  }
}

// An amplifier pulled out in mid-stream ends the stream with status 3, naming the amplifier and
// counting what it never sent; the CSV keeps the frames before the loss.
TEST_F(UsbfsTorvactl, AnAmplifierUnpluggedInMidStreamEndsItNamingTheAmplifier) {
  const CommandRun run =
      RunTorvactl({"stream", "--seconds", "20", "--output", Path("stream.csv")},
                  {"--unplug", "1@3"});
  ASSERT_TRUE(run.exit.finished);
  EXPECT_EQ(run.exit.status, 3) << run.err;
  EXPECT_NE(run.err.find("(serial " + kSerials[1] + ") was disconnected"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("samples never sent after the loss"), std::string::npos) << run.err;
  EXPECT_GT(Lines(ReadFile(Path("stream.csv"))).size(), 1u + kSamplesPerFrame);
}

TEST_F(UsbfsTorvactl, StreamsTwoAmplifiersInAlignedContinuousFrames) {
  const std::string csv = Path("stream.csv");
  const CommandRun run = RunTorvactl({"stream", "--seconds", std::to_string(kStreamSeconds),
                                      "--rate", std::to_string(kRateHz), "--output", csv},
                                     {"--statistics"});
  ASSERT_TRUE(run.exit.finished);
  ASSERT_EQ(run.exit.status, 0) << run.err;

  const auto lines = Lines(ReadFile(csv));
  ASSERT_GT(lines.size(), 1u);
  const auto header = Split(lines[0], ',');
  ASSERT_EQ(header.size(), kColumns) << lines[0];
  const StreamRows counted = CountRows(lines);
  const long rows = counted.rows;
  EXPECT_EQ(counted.malformed, 0);
  EXPECT_EQ(counted.first, 1);  // the run's first sample
  EXPECT_EQ(counted.gaps, 0);
  EXPECT_EQ(rows % kSamplesPerFrame, 0);  // whole frames only
  // Judged against what the amplifiers sent, not against the wall clock: the emulated bus falls
  // behind real time on a loaded machine. No row that was not sent, and at least one frame.
  const std::vector<long long> sent = StreamingPacketsSent(run.err);
  ASSERT_EQ(sent.size(), 2u) << run.err;
  EXPECT_GE(rows, kSamplesPerFrame);
  EXPECT_LE(rows, kSamplesPerFrame * std::min(sent[0], sent[1]));
  EXPECT_LE(rows, static_cast<long>(kStreamSeconds * kRateHz) + kSamplesPerFrame);

  // Both plates delivered every sample and dropped none: "<pos> <serial> <samples> <dropped>".
  for (const std::string& column : {header[1], header[8]}) {
    const std::string plate = column.substr(0, column.find(' '));
    const std::vector<std::string> summary = SummaryOf(run.err, plate);
    ASSERT_FALSE(summary.empty()) << plate << "\n" << run.err;
    EXPECT_EQ(std::stol(summary[2]), rows) << plate;
    EXPECT_EQ(std::stol(summary[3]), 0) << plate;
  }
  EXPECT_TRUE(HasLine(run.err, "samples lost by the amplifiers:", "0 (the 'lost' column, per plate)"))
      << run.err;
  EXPECT_TRUE(HasLine(run.err, "frames lost because they were not taken in time:",
                      "0 (0 samples per plate)"))
      << run.err;

  const double cpuSeconds = std::chrono::duration<double>(run.exit.cpu).count();
  if (testing::kCpuLimitsApply) {
    EXPECT_LT(cpuSeconds, kMaximumCpuShare * kStreamSeconds);
  }
}

// Every command refuses a value it cannot use before it touches the library: status 2 and a
// message naming the argument, the text and what is allowed.
TEST_F(UsbfsTorvactl, RefusesUnusableNumbersWithStatusTwo) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"stream", "--seconds", "1e10"}, "--seconds '1e10' is out of range"},
      {{"stream", "--rate", "0"}, "--rate '0' is out of range"},
      {{"stream", "--format", "3"}, "--format '3' is out of range"},
      {{"order", "--timeout", "nan"}, "--timeout 'nan' is not a finite number"},
      {{"order", "--timeout", "-1"}, "--timeout '-1' is out of range"},
      {{"order", "--threshold", "inf"}, "--threshold 'inf' is not a finite number"},
      {{"set-gains", "0", "1x", "0", "0", "0", "0", "0"}, "g0 '1x' is not a whole number"},
      {{"set-excitations", "0", "0", "0", "3", "0", "0", "0"}, "e2 '3' is out of range"},
      {{"set-rotation", "1", "nan"}, "degrees 'nan' is not a finite number"},
      {{"blink", "25"}, "position '25' is out of range"},
      {{"download-cal", "x"}, "position 'x' is not a whole number"},
      {{"zero", "1"}, "too many positional options"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    std::vector<std::string> command = {kTorvactl};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    const CommandRun run = Run(command);
    ASSERT_TRUE(run.exit.finished);
    EXPECT_EQ(run.exit.status, 2) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

TEST_F(UsbfsTorvactl, StreamSaysSoAndFailsWhenEveryAmplifierDeclinesTheStart) {
  // Every reply "not done": the library brings the amplifiers up but starts none of them.
  const CommandRun run = RunTorvactl(
      {"stream", "--seconds", "30", "--rate", std::to_string(kRateHz), "--output",
       Path("stream.csv")},
      {"--reply-status", "0"});
  ASSERT_TRUE(run.exit.finished);  // well before the 30 s asked for
  EXPECT_EQ(run.exit.status, 1) << run.err;
  EXPECT_NE(run.err.find("torvactl: no amplifier started"), std::string::npos) << run.err;
}

TEST_F(UsbfsTorvactl, ASecondProgramLeavesTheAmplifiersOfARunningStreamAlone) {
  // Two programs on one bus: a stream, and while it runs a second stream and a status.
  const std::string script =
      "\"$0\" stream --seconds 4 --rate 1000 --output first.csv 2>first.err & first=$!\n"
      // The first holds both amplifiers once it reports progress.
      "i=0; until [ -s first.err ]; do i=$((i+1)); [ $i -lt 600 ] || exit 90; sleep 0.05; done\n"
      "\"$0\" stream --seconds 1 --output second.csv 2>second.err; echo $? >second.status\n"
      "\"$0\" status >status.out 2>status.err\n"
      "wait $first\n";
  const std::string directory = Path("");
  const CommandRun run = Run({kRunner, "--amplifiers", kTwoAmplifiers, "--statistics", "--",
                              "/bin/sh", "-c", "cd \"" + directory + "\" || exit 91\n" + script,
                              kTorvactl});
  ASSERT_TRUE(run.exit.finished);
  EXPECT_EQ(run.exit.status, 0) << run.err << ReadFile(Path("first.err"));

  // The second finds no free amplifier and says why; neither it nor the status sent anything.
  EXPECT_EQ(ReadFile(Path("second.status")), "1\n");
  const std::string second = ReadFile(Path("second.err"));
  EXPECT_NE(second.find("is in use by another program and was left out"), std::string::npos)
      << second;
  EXPECT_NE(second.find("torvactl: no amplifiers found"), std::string::npos) << second;
  EXPECT_TRUE(HasLine(ReadFile(Path("status.out")), "device count:", "0"))
      << ReadFile(Path("status.out"));
  // Each amplifier had its parameters read and was stopped once: by the first program only.
  for (const char* amplifier : {"amplifier 0:", "amplifier 1:"}) {
    const std::size_t totals = run.err.find(amplifier);
    ASSERT_NE(totals, std::string::npos) << run.err;
    const std::string line = run.err.substr(totals, run.err.find('\n', totals) - totals);
    for (const CommandCode code : {CommandCode::kReadAllParameters, CommandCode::kStop}) {
      const std::string once = " " + std::to_string(static_cast<int>(code)) + "x1 ";
      EXPECT_NE(line.find(once), std::string::npos) << line;
    }
  }
  // The first recording is whole: every row there, in order.
  const StreamRows counted = CountRows(Lines(ReadFile(Path("first.csv"))));
  EXPECT_EQ(counted.malformed, 0);
  EXPECT_EQ(counted.gaps, 0);
  EXPECT_GE(counted.rows, kSamplesPerFrame);
  EXPECT_TRUE(HasLine(ReadFile(Path("first.err")), "samples lost by the amplifiers:",
                      "0 (the 'lost' column, per plate)"))
      << ReadFile(Path("first.err"));
}

TEST_F(UsbfsTorvactl, SaveConfigWithNoAmplifiersKeepsASavedSetupUnlessForced) {
  std::filesystem::create_directories(Path("cfg"));
  ASSERT_TRUE(Settings().Write("SOFTWARE\\Torva\\CFG", "Path", Path("cfg/")));
  const std::string setup = Path("cfg/TorvaUsbSetup.cfg");
  const std::string saved =
      "101\r\n2\r\n1000\r\n0\r\n0\r\n"
      "TA601201\r\nTA-6\r\nP1\r\nTP4060\r\nTA601202\r\nTA-6\r\nP2\r\nTP4060\r\n";
  std::ofstream(setup, std::ios::binary) << saved;
  // A mistyped amplifier list: the library finds no amplifiers.
  ::setenv("TORVA_SIMULATE", "tow", 1);
  const CommandRun kept = Run({kTorvactl, "save-config"});
  const std::string afterKept = ReadFile(setup);
  const CommandRun forced = Run({kTorvactl, "save-config", "--force"});
  ::unsetenv("TORVA_SIMULATE");

  ASSERT_TRUE(kept.exit.finished);
  EXPECT_EQ(kept.exit.status, 1) << kept.err;
  EXPECT_NE(kept.err.find("no amplifiers found; the saved setup lists 2 and was kept"),
            std::string::npos)
      << kept.err;
  EXPECT_EQ(afterKept, saved);
  ASSERT_TRUE(forced.exit.finished);
  EXPECT_EQ(forced.exit.status, 0) << forced.err;
  EXPECT_EQ(ReadFile(setup), "101\r\n0\r\n1000\r\n0\r\n0\r\n");
}

}  // namespace
}  // namespace torva::e2e
