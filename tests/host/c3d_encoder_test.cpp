// The C3D encoder: header words at their offsets, a parameter section a generic walk reads with
// every parameter of the format's type, counts past 65535 patched everywhere a reader looks, 25
// plates and more; and an independent reader (tests/host/c3d_reader.py) reading a written file.

#include "host/analysis/c3d_encoder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace torva::host::analysis {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlock = 512;

template <typename Value>
Value At(const Bytes& bytes, std::size_t offset) {
  Value value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

C3dDescription Description(std::size_t plates, std::vector<std::string> layout = {"a", "bcd"}) {
  C3dDescription description{1000.0, {}, "torva-host", "0.1.0", "Torva", "2026-12-10T05:12:00Z",
                             "Software trigger", std::move(layout)};
  for (std::size_t p = 0; p < plates; ++p) {
    const double x = 1000.0 * static_cast<double>(p) + 0.5;
    description.plates.push_back({"TA60120" + std::to_string(p) + "P048311",
                                  {{{x + 200, 300, 1}, {x - 200, 300, 2}, {x - 200, -300, 3},
                                    {x + 200, -300, 4}}},
                                  {static_cast<double>(p) + 1.5, -2.25, -40}});
  }
  return description;
}

TEST(C3dEncoder, HeaderWordsSitAtTheirOffsets) {
  const C3dEncoder encoder(Description(3));
  ASSERT_EQ(encoder.Problem(), "");
  const Bytes& prelude = encoder.Prelude();
  ASSERT_EQ(prelude.size() % kBlock, 0u);
  EXPECT_EQ(prelude[0], 2);
  EXPECT_EQ(prelude[1], 0x50);
  EXPECT_EQ(At<std::uint16_t>(prelude, 2), 0);   // points
  EXPECT_EQ(At<std::uint16_t>(prelude, 4), 18);  // analog values per frame
  EXPECT_EQ(At<std::uint16_t>(prelude, 6), 1);   // first frame
  EXPECT_EQ(At<std::uint16_t>(prelude, 8), 0);   // last frame until patched
  EXPECT_EQ(At<std::uint16_t>(prelude, 10), 0);  // interpolation gap
  EXPECT_EQ(At<float>(prelude, 12), -1.0f);
  EXPECT_EQ(At<std::uint16_t>(prelude, 16), prelude.size() / kBlock + 1);  // data follow it
  EXPECT_EQ(At<std::uint16_t>(prelude, 18), 1);
  EXPECT_EQ(At<float>(prelude, 20), 1000.0f);
  EXPECT_EQ(At<std::uint16_t>(prelude, 298), 12345);
  EXPECT_EQ(At<std::uint16_t>(prelude, 300), 0);  // events
  // The parameter section's header: its block count, Intel.
  EXPECT_EQ(prelude[kBlock + 2], prelude.size() / kBlock - 1);
  EXPECT_EQ(prelude[kBlock + 3], 84);
}

TEST(C3dEncoder, FramesAreLittleEndianFloatsAndPaddingFillsTheLastBlock) {
  const C3dEncoder encoder(Description(3));
  EXPECT_EQ(encoder.FrameBytes(), 72u);
  std::vector<float> channels(18, 0.0f);
  channels[0] = 1.0f;
  channels[17] = -2.0f;
  Bytes out = {0xAA};
  encoder.AppendFrame(channels.data(), out);
  ASSERT_EQ(out.size(), 73u);
  EXPECT_EQ(Bytes(out.begin() + 1, out.begin() + 5), (Bytes{0x00, 0x00, 0x80, 0x3F}));
  EXPECT_EQ(Bytes(out.end() - 4, out.end()), (Bytes{0x00, 0x00, 0x00, 0xC0}));
  EXPECT_EQ(encoder.Padding(0), 0u);
  EXPECT_EQ(encoder.Padding(1), 512u - 72u);
  EXPECT_EQ(encoder.Padding(7), 8u);
  EXPECT_EQ(encoder.Padding(64), 0u);  // 4608 bytes: nine blocks
  EXPECT_EQ(encoder.Padding(1ull << 40 | 1), 440u);
}

TEST(C3dEncoder, ADescriptionItCannotEncodeSaysWhyAndYieldsNoBytes) {
  C3dDescription noPlates = Description(0);
  C3dDescription noRate = Description(1);
  noRate.analogRate = 0;
  C3dDescription nanRate = Description(1);
  nanRate.analogRate = std::nan("");
  for (const C3dDescription& description :
       {noPlates, noRate, nanRate, Description(251), Description(256)}) {
    const C3dEncoder encoder(description);
    EXPECT_NE(encoder.Problem(), "") << description.plates.size();
    EXPECT_TRUE(encoder.Prelude().empty());
    EXPECT_TRUE(encoder.FrameCountPatches(10).empty());
  }
  EXPECT_EQ(C3dEncoder(Description(250)).Problem(), "");  // 1500 channels, LABELS .. LABELS6
}

// Writes a file as torva-host will (prelude, frames, padding, then the patches) and has the
// independent reader check what it reads; skipped without /usr/bin/python3.
class C3dReaderTest : public testing::ScratchDirectory {
 protected:
  static constexpr const char* kPython = "/usr/bin/python3";

  // Channel c of frame f.
  static float Value(std::size_t frame, std::size_t channel) {
    return static_cast<float>(frame) * 100.0f + static_cast<float>(channel) + 0.25f;
  }

  std::string WriteFile(const C3dEncoder& encoder, std::size_t plates, std::uint64_t frames) {
    Bytes file = encoder.Prelude();
    std::vector<float> channels(plates * 6);
    for (std::uint64_t f = 0; f < frames; ++f) {
      for (std::size_t c = 0; c < channels.size(); ++c) channels[c] = Value(f, c);
      encoder.AppendFrame(channels.data(), file);
    }
    file.resize(file.size() + encoder.Padding(frames), 0);
    for (const C3dPatch& patch : encoder.FrameCountPatches(frames))
      std::copy(patch.bytes.begin(), patch.bytes.end(), file.begin() + patch.offset);
    EXPECT_EQ(file.size() % kBlock, 0u);
    const std::string path = Path("capture.c3d");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
  }

  static std::string FrameJson(std::size_t frame, std::size_t channels) {
    std::string json = "[";
    for (std::size_t c = 0; c < channels; ++c)
      json += (c ? "," : "") + std::to_string(Value(frame, c));
    return json + "]";
  }

  // Runs the reader with the checks; returns its exit status and output.
  static std::pair<int, std::string> Read(const std::string& path,
                                          const std::vector<std::string>& checks) {
    std::string command = std::string(kPython) +
                          " '" TORVA_SOURCE_DIR "/tests/host/c3d_reader.py' '" + path + "'";
    for (const std::string& check : checks) command += " --check '" + check + "'";
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {-1, "popen failed"};
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
  }
};

TEST_F(C3dReaderTest, TheIndependentReaderFindsTheRatesLabelsGeometryAndFrames) {
  if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not there";
  const C3dEncoder encoder(Description(3));
  const std::string path = WriteFile(encoder, 3, 10);
  std::string labels = "[";
  for (std::size_t p = 0; p < 3; ++p)
    for (const char* suffix : {"Fx", "Fy", "Fz", "Mx", "My", "Mz"})
      labels += std::string(labels.size() > 1 ? "," : "") + "\"TA60120" + std::to_string(p) +
                "P048311 " + suffix + "\"";
  labels += "]";
  const auto [status, output] = Read(
      path, {"frames=10", "header:frame_rate=1000", "POINT:RATE=1000", "ANALOG:RATE=1000",
             "ANALOG:USED=18", "ANALOG:LABELS=" + labels,
             "FORCE_PLATFORM:CORNERS=[[[200.5,300,1],[-199.5,300,2],[-199.5,-300,3],"
             "[200.5,-300,4]],[[1200.5,300,1],[800.5,300,2],[800.5,-300,3],[1200.5,-300,4]],"
             "[[2200.5,300,1],[1800.5,300,2],[1800.5,-300,3],[2200.5,-300,4]]]",
             "FORCE_PLATFORM:ORIGIN=[[1.5,-2.25,-40],[2.5,-2.25,-40],[3.5,-2.25,-40]]",
             "FORCE_PLATFORM:CHANNEL=[[1,2,3,4,5,6],[7,8,9,10,11,12],[13,14,15,16,17,18]]",
             "FORCE_PLATFORM:TYPE=[2,2,2]", "TORVA:START_TIME=\"2026-12-10T05:12:00Z\"",
             "TORVA:LAYOUT=[\"a\",\"bcd\"]", "MANUFACTURER:SOFTWARE=\"torva-host\"",
             "frame:0=" + FrameJson(0, 18), "frame:9=" + FrameJson(9, 18),
             "frame_sources:TRIAL=10", "frame_sources:POINT:LONG_FRAMES=10",
             // Every parameter with the format's element type (-1 text, 2 integer, 4 float).
             "type:POINT:USED=[2,[]]", "type:POINT:FRAMES=[2,[]]", "type:POINT:LONG_FRAMES=[4,[]]",
             "type:POINT:SCALE=[4,[]]", "type:POINT:RATE=[4,[]]", "type:POINT:DATA_START=[2,[]]",
             "type:ANALOG:USED=[2,[]]", "type:ANALOG:LABELS=[-1,[32,18]]",
             "type:ANALOG:UNITS=[-1,[3,18]]", "type:ANALOG:SCALE=[4,[18]]",
             "type:ANALOG:OFFSET=[2,[18]]", "type:ANALOG:RATE=[4,[]]",
             "type:ANALOG:GEN_SCALE=[4,[]]", "type:FORCE_PLATFORM:USED=[2,[]]",
             "type:FORCE_PLATFORM:TYPE=[2,[3]]", "type:FORCE_PLATFORM:ZERO=[2,[2]]",
             "type:FORCE_PLATFORM:CORNERS=[4,[3,4,3]]", "type:FORCE_PLATFORM:ORIGIN=[4,[3,3]]",
             "type:FORCE_PLATFORM:CHANNEL=[2,[6,3]]", "type:TRIAL:ACTUAL_END_FIELD=[2,[2]]",
             "ANALOG:UNITS=[\"N\",\"N\",\"N\",\"Nmm\",\"Nmm\",\"Nmm\",\"N\",\"N\",\"N\","
             "\"Nmm\",\"Nmm\",\"Nmm\",\"N\",\"N\",\"N\",\"Nmm\",\"Nmm\",\"Nmm\"]",
             "ANALOG:GEN_SCALE=1", "FORCE_PLATFORM:ZERO=[0,0]", "POINT:USED=0"});
  EXPECT_EQ(status, 0) << output;
}

// 25 plates' 150 channels fit in one ANALOG:LABELS; beyond 255 they go on in LABELS2.
TEST_F(C3dReaderTest, ChannelsBeyondOneArrayGoOnInTheNextParameter) {
  if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not there";
  const auto [twentyFive, output25] =
      Read(WriteFile(C3dEncoder(Description(25)), 25, 1),
           {"type:ANALOG:LABELS=[-1,[32,150]]", "type:ANALOG:LABELS2=null",
            "frame:0=" + FrameJson(0, 150)});
  EXPECT_EQ(twentyFive, 0) << output25;
  const auto [fifty, output50] =
      Read(WriteFile(C3dEncoder(Description(50)), 50, 1),
           {"ANALOG:USED=300", "type:ANALOG:LABELS=[-1,[32,255]]",
            "type:ANALOG:LABELS2=[-1,[32,45]]", "type:ANALOG:SCALE2=[4,[45]]",
            "type:ANALOG:OFFSET2=[2,[45]]", "type:FORCE_PLATFORM:CORNERS=[4,[3,4,50]]",
            "frame:0=" + FrameJson(0, 300)});
  EXPECT_EQ(fifty, 0) << output50;
}

TEST_F(C3dReaderTest, TheIndependentReaderCountsFramesPastTheWordRange) {
  if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not there";
  const C3dEncoder encoder(Description(1));
  const std::string path = WriteFile(encoder, 1, 70000);
  const auto [status, output] =
      Read(path, {"frames=70000", "frame_sources:POINT:FRAMES=65535", "frame_sources:TRIAL=70000",
                  "frame_sources:POINT:LONG_FRAMES=70000", "header:last_frame=65535",
                  "frame:-1=" + FrameJson(69999, 6)});
  EXPECT_EQ(status, 0) << output;
}

}  // namespace
}  // namespace torva::host::analysis
