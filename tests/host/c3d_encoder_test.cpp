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

// One parameter as a generic walk of the section finds it.
struct Parameter {
  int type = 0;
  std::vector<std::size_t> dimensions;
  std::size_t offset = 0;  // of its values in the prelude
  Bytes values;
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (std::size_t at = 0; at < values.size(); at += dimensions[0])
      texts.emplace_back(values.begin() + at, values.begin() + at + dimensions[0]);
    return texts;
  }
  template <typename Value>
  std::vector<Value> Numbers() const {
    std::vector<Value> numbers(values.size() / sizeof(Value));
    std::memcpy(numbers.data(), values.data(), values.size());
    return numbers;
  }
};

// Walks the records from byte 5 of the section to the one whose "next" is 0, checking that each
// points inside the section, is unlocked and belongs to a group; keyed "GROUP:NAME".
std::map<std::string, Parameter> Walk(const Bytes& file) {
  const std::size_t start = (file[0] - 1) * kBlock;
  const std::size_t end = start + file[start + 2] * kBlock;
  std::map<int, std::string> groups;
  std::vector<std::pair<int, std::pair<std::string, Parameter>>> parameters;
  for (std::size_t at = start + 4;;) {
    const auto nameLength = static_cast<std::int8_t>(file[at]);
    const auto id = static_cast<std::int8_t>(file[at + 1]);
    EXPECT_GT(nameLength, 0) << "locked or empty record at " << at;
    const std::string name(file.begin() + at + 2, file.begin() + at + 2 + nameLength);
    const std::size_t next = at + 2 + nameLength;
    const auto offset = At<std::int16_t>(file, next);
    if (id < 0) {
      groups[-id] = name;
    } else {
      Parameter parameter;
      parameter.type = static_cast<std::int8_t>(file[next + 2]);
      std::size_t count = 1;
      for (std::size_t d = 0; d < file[next + 3]; ++d) {
        parameter.dimensions.push_back(file[next + 4 + d]);
        count *= file[next + 4 + d];
      }
      parameter.offset = next + 4 + parameter.dimensions.size();
      const auto first = file.begin() + static_cast<std::ptrdiff_t>(parameter.offset);
      parameter.values.assign(first, first + count * std::abs(parameter.type));
      const std::size_t description = parameter.offset + parameter.values.size();
      EXPECT_LE(description + 1 + file[description], offset ? next + offset : end) << name;
      parameters.push_back({id, {name, parameter}});
    }
    if (offset == 0) break;
    at = next + offset;
    if (at >= end) {
      ADD_FAILURE() << name << " points past the section";
      break;
    }
  }
  std::map<std::string, Parameter> found;
  for (const auto& [group, parameter] : parameters) {
    EXPECT_TRUE(groups.count(group)) << parameter.first << " belongs to no group";
    found[groups[group] + ":" + parameter.first] = parameter.second;
  }
  return found;
}

Bytes Patched(const C3dEncoder& encoder, std::uint64_t frames) {
  Bytes file = encoder.Prelude();
  for (const C3dPatch& patch : encoder.FrameCountPatches(frames)) {
    EXPECT_LE(patch.offset + patch.bytes.size(), file.size());
    std::copy(patch.bytes.begin(), patch.bytes.end(), file.begin() + patch.offset);
  }
  EXPECT_EQ(file.size(), encoder.Prelude().size());
  return file;
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

TEST(C3dEncoder, EveryParameterHasTheFormatsTypeAndShape) {
  const C3dEncoder encoder(Description(3));
  const auto parameters = Walk(encoder.Prelude());
  using Dims = std::vector<std::size_t>;
  const std::map<std::string, std::pair<int, Dims>> expected = {
      {"POINT:USED", {2, {}}}, {"POINT:FRAMES", {2, {}}}, {"POINT:LONG_FRAMES", {4, {}}},
      {"POINT:DATA_START", {2, {}}}, {"POINT:SCALE", {4, {}}}, {"POINT:RATE", {4, {}}},
      {"POINT:UNITS", {-1, {2}}}, {"POINT:LABELS", {-1, {32, 0}}},
      {"POINT:DESCRIPTIONS", {-1, {32, 0}}}, {"ANALOG:USED", {2, {}}},
      {"ANALOG:LABELS", {-1, {32, 18}}}, {"ANALOG:DESCRIPTIONS", {-1, {32, 18}}},
      {"ANALOG:UNITS", {-1, {3, 18}}}, {"ANALOG:SCALE", {4, {18}}}, {"ANALOG:OFFSET", {2, {18}}},
      {"ANALOG:RATE", {4, {}}}, {"ANALOG:GEN_SCALE", {4, {}}}, {"ANALOG:BITS", {2, {}}},
      {"ANALOG:FORMAT", {-1, {6}}}, {"FORCE_PLATFORM:USED", {2, {}}},
      {"FORCE_PLATFORM:TYPE", {2, {3}}}, {"FORCE_PLATFORM:ZERO", {2, {2}}},
      {"FORCE_PLATFORM:CORNERS", {4, {3, 4, 3}}}, {"FORCE_PLATFORM:ORIGIN", {4, {3, 3}}},
      {"FORCE_PLATFORM:CHANNEL", {2, {6, 3}}}, {"TRIAL:ACTUAL_START_FIELD", {2, {2}}},
      {"TRIAL:ACTUAL_END_FIELD", {2, {2}}}, {"MANUFACTURER:COMPANY", {-1, {5}}},
      {"MANUFACTURER:SOFTWARE", {-1, {10}}}, {"MANUFACTURER:VERSION_LABEL", {-1, {5}}},
      {"TORVA:START_TIME", {-1, {20}}}, {"TORVA:SYNC_MODE", {-1, {16}}},
      {"TORVA:LAYOUT", {-1, {3, 2}}}};
  for (const auto& [name, shape] : expected) {
    ASSERT_TRUE(parameters.count(name)) << name;
    EXPECT_EQ(parameters.at(name).type, shape.first) << name;
    EXPECT_EQ(parameters.at(name).dimensions, shape.second) << name;
  }
  EXPECT_EQ(parameters.size(), expected.size());
  const auto value = [&](const std::string& name) { return parameters.at(name); };
  EXPECT_EQ(value("POINT:DATA_START").Numbers<std::int16_t>()[0],
            At<std::uint16_t>(encoder.Prelude(), 16));
  EXPECT_EQ(value("POINT:USED").Numbers<std::int16_t>()[0], 0);
  EXPECT_EQ(value("POINT:SCALE").Numbers<float>()[0], -1.0f);
  EXPECT_EQ(value("POINT:RATE").Numbers<float>()[0], 1000.0f);
  EXPECT_EQ(value("ANALOG:RATE").Numbers<float>()[0], 1000.0f);
  EXPECT_EQ(value("ANALOG:USED").Numbers<std::int16_t>()[0], 18);
  EXPECT_EQ(value("FORCE_PLATFORM:USED").Numbers<std::int16_t>()[0], 3);
  EXPECT_EQ(value("FORCE_PLATFORM:TYPE").Numbers<std::int16_t>(), std::vector<std::int16_t>(3, 2));
  EXPECT_EQ(value("POINT:UNITS").Texts()[0], "mm");
  EXPECT_EQ(value("ANALOG:FORMAT").Texts()[0], "SIGNED");
  EXPECT_EQ(value("TORVA:LAYOUT").Texts(), (std::vector<std::string>{"a  ", "bcd"}));
  EXPECT_EQ(value("TORVA:SYNC_MODE").Texts()[0], "Software trigger");
  EXPECT_EQ(value("MANUFACTURER:VERSION_LABEL").Texts()[0], "0.1.0");
}

TEST(C3dEncoder, AnalogChannelsAreLabelledPerPlateWithUnitsAndUnitScales) {
  C3dDescription description = Description(2, {});
  description.plates[1].name = std::string(40, 'L');  // longer than a label: the suffix stays
  description.company = "";
  const auto parameters = Walk(C3dEncoder(description).Prelude());
  const auto labels = parameters.at("ANALOG:LABELS").Texts();
  EXPECT_EQ(labels[0], "TA601200P048311 Fx" + std::string(14, ' '));
  EXPECT_EQ(labels[5], "TA601200P048311 Mz" + std::string(14, ' '));
  EXPECT_EQ(labels[8], std::string(29, 'L') + " Fz");
  EXPECT_EQ(parameters.at("ANALOG:UNITS").Texts(),
            (std::vector<std::string>{"N  ", "N  ", "N  ", "Nmm", "Nmm", "Nmm", "N  ", "N  ",
                                      "N  ", "Nmm", "Nmm", "Nmm"}));
  EXPECT_EQ(parameters.at("ANALOG:SCALE").Numbers<float>(), std::vector<float>(12, 1.0f));
  EXPECT_EQ(parameters.at("ANALOG:OFFSET").Numbers<std::int16_t>(),
            std::vector<std::int16_t>(12, 0));
  EXPECT_EQ(parameters.at("ANALOG:GEN_SCALE").Numbers<float>()[0], 1.0f);
  EXPECT_EQ(parameters.count("TORVA:LAYOUT"), 0u);  // no layout lines, no parameter
  EXPECT_EQ(parameters.at("MANUFACTURER:COMPANY").Texts()[0], " ");
}

TEST(C3dEncoder, ForcePlatformGeometryIsInFortranOrderAndChannelsAreOneBased) {
  const auto parameters = Walk(C3dEncoder(Description(3)).Prelude());
  const auto corners = parameters.at("FORCE_PLATFORM:CORNERS").Numbers<float>();
  // First dimension fastest: x y z of corner 1, of corner 2, .. then the next plate.
  EXPECT_EQ(std::vector<float>(corners.begin(), corners.begin() + 6),
            (std::vector<float>{200.5f, 300, 1, -199.5f, 300, 2}));
  EXPECT_EQ(corners[12 * 2 + 9], 2200.5f);  // plate 3, corner 4, x
  EXPECT_EQ(corners[12 * 2 + 11], 4.0f);
  EXPECT_EQ(parameters.at("FORCE_PLATFORM:ORIGIN").Numbers<float>(),
            (std::vector<float>{1.5f, -2.25f, -40, 2.5f, -2.25f, -40, 3.5f, -2.25f, -40}));
  std::vector<std::int16_t> channels(18);
  for (std::size_t i = 0; i < channels.size(); ++i) channels[i] = static_cast<std::int16_t>(i + 1);
  EXPECT_EQ(parameters.at("FORCE_PLATFORM:CHANNEL").Numbers<std::int16_t>(), channels);
}

TEST(C3dEncoder, ACountPastTheWordRangeIsPatchedWhereverReadersLook) {
  const C3dEncoder encoder(Description(3));
  const auto offsets = Walk(encoder.Prelude());
  const std::size_t framesAt = offsets.at("POINT:FRAMES").offset;
  const std::size_t longAt = offsets.at("POINT:LONG_FRAMES").offset;
  const std::size_t endAt = offsets.at("TRIAL:ACTUAL_END_FIELD").offset;
  for (const std::uint64_t frames : {0ull, 10ull, 65535ull, 65536ull, 70000ull, 16777216ull,
                                     5000000000ull}) {
    const Bytes file = Patched(encoder, frames);
    const auto word = static_cast<std::uint16_t>(std::min<std::uint64_t>(frames, 65535));
    const auto trial = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, 0xFFFFFFFF));
    EXPECT_EQ(At<std::uint16_t>(file, 8), word) << frames;
    EXPECT_EQ(At<std::uint16_t>(file, framesAt), word) << frames;
    EXPECT_EQ(At<float>(file, longAt), static_cast<float>(frames)) << frames;
    EXPECT_EQ(At<std::uint16_t>(file, endAt), trial & 0xFFFF) << frames;
    EXPECT_EQ(At<std::uint16_t>(file, endAt + 2), trial >> 16) << frames;
    // Nothing else moves: the walk finds the same parameters, the start field stays (1, 0).
    const auto parameters = Walk(file);
    EXPECT_EQ(parameters.at("TRIAL:ACTUAL_START_FIELD").Numbers<std::int16_t>(),
              (std::vector<std::int16_t>{1, 0}));
    std::size_t changed = 0;
    for (std::size_t i = 0; i < file.size(); ++i) changed += file[i] != encoder.Prelude()[i];
    EXPECT_LE(changed, 2u + 2u + 4u + 4u);
  }
  EXPECT_EQ(Patched(encoder, 70000).size(), encoder.Prelude().size());
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

TEST(C3dEncoder, TwentyFivePlatesFitInOneLabelsParameterAndMoreGoOnInLabels2) {
  const auto twentyFive = Walk(C3dEncoder(Description(25)).Prelude());
  EXPECT_EQ(twentyFive.at("ANALOG:LABELS").dimensions, (std::vector<std::size_t>{32, 150}));
  EXPECT_EQ(twentyFive.at("ANALOG:LABELS").Texts()[149].substr(0, 19), "TA6012024P048311 Mz");
  EXPECT_EQ(twentyFive.count("ANALOG:LABELS2"), 0u);
  EXPECT_EQ(twentyFive.at("FORCE_PLATFORM:CHANNEL").Numbers<std::int16_t>()[149], 150);

  const C3dEncoder fifty(Description(50));
  ASSERT_EQ(fifty.Problem(), "");
  const auto parameters = Walk(fifty.Prelude());
  for (const char* name : {"LABELS", "DESCRIPTIONS", "UNITS"}) {
    EXPECT_EQ(parameters.at(std::string("ANALOG:") + name).dimensions[1], 255u) << name;
    EXPECT_EQ(parameters.at(std::string("ANALOG:") + name + "2").dimensions[1], 45u) << name;
  }
  EXPECT_EQ(parameters.at("ANALOG:SCALE2").dimensions, std::vector<std::size_t>{45});
  EXPECT_EQ(parameters.at("ANALOG:OFFSET2").dimensions, std::vector<std::size_t>{45});
  EXPECT_EQ(parameters.at("ANALOG:LABELS2").Texts()[0].substr(0, 19), "TA6012042P048311 Mx");
  EXPECT_EQ(parameters.at("ANALOG:USED").Numbers<std::int16_t>()[0], 300);
  EXPECT_EQ(parameters.at("FORCE_PLATFORM:CORNERS").dimensions,
            (std::vector<std::size_t>{3, 4, 50}));
  EXPECT_EQ(parameters.count("ANALOG:LABELS3"), 0u);
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
             "frame_sources:TRIAL=10", "frame_sources:POINT:LONG_FRAMES=10"});
  EXPECT_EQ(status, 0) << output;
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
