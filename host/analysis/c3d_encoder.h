#pragma once
// Encodes a force-plate capture as the bytes of a C3D file, without writing them anywhere: Intel
// byte order, floating-point data, no 3D points, six analog channels per plate (FORCE_PLATFORM
// TYPE 2: Fx Fy Fz in N, Mx My Mz in N·mm).
//
// A file is the prelude (header block and parameter section), the frames as they come, zero bytes
// up to a whole block (Padding) and, written over the prelude last, the frame count
// (FrameCountPatches). Nothing in the prelude depends on the number of frames but the bytes the
// patches replace, which are sized for any count from the start.
//
// One analog sample per 3D frame: the point rate equals the analog rate, so a frame is exactly one
// sample of every channel.
//
// Frame counts above 65535: the header's last frame and POINT:FRAMES (a 16-bit integer) say 65535;
// POINT:LONG_FRAMES (a float, exact up to 2^24 frames) and TRIAL:ACTUAL_START_FIELD /
// ACTUAL_END_FIELD (two 16-bit words each, low word first: first frame 1, last frame = the count)
// hold the count. Both are always present so that every common reader finds it.
//
// Labels: ANALOG:LABELS holds "<plate name> Fx" .. "<plate name> Mz" in 32 characters each (the
// name is cut so the suffix stays). A parameter array holds at most 255 entries, so channels past
// the 255th go on in LABELS2, LABELS3, .. (likewise DESCRIPTIONS, UNITS, SCALE, OFFSET): 25 plates
// (150 channels) fit in one. Up to about 250 plates fit in a parameter section (255 blocks).
//
// Threads: none; a value that does not change once built.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torva::host::analysis {

struct C3dPlate {
  std::string name;                                // the plate's instance name
  std::array<std::array<double, 3>, 4> cornersMm;  // FORCE_PLATFORM:CORNERS, lab mm
  std::array<double, 3> originMm;                  // FORCE_PLATFORM:ORIGIN, mm
};

struct C3dDescription {
  double analogRate = 0;           // samples per second of every analog channel
  std::vector<C3dPlate> plates;    // in channel order
  std::string software;            // MANUFACTURER:SOFTWARE
  std::string version;             // MANUFACTURER:VERSION_LABEL
  std::string company;             // MANUFACTURER:COMPANY
  std::string startTimeUtc;        // TORVA:START_TIME
  std::string syncMode;            // TORVA:SYNC_MODE
  std::vector<std::string> layout;  // TORVA:LAYOUT, left out when empty
};

// Bytes to write over the prelude at `offset`.
struct C3dPatch {
  std::uint64_t offset;
  std::vector<std::uint8_t> bytes;
};

class C3dEncoder {
 public:
  static constexpr std::size_t kChannelsPerPlate = 6;

  explicit C3dEncoder(C3dDescription description);

  // Empty when the description can be encoded. Otherwise why not (no plates, a rate that is not
  // a positive number, more plates than a parameter section holds): the prelude and the patches
  // are then empty.
  const std::string& Problem() const { return problem_; }

  // The header block and the parameter section, zero-padded to whole 512-byte blocks; the data
  // start right after it. It says the file holds 0 frames until patched.
  const std::vector<std::uint8_t>& Prelude() const { return prelude_; }
  // Bytes of one frame: six floats per plate.
  std::size_t FrameBytes() const;
  // Appends one frame; `channels` holds 6 values per plate in plate order.
  void AppendFrame(const float* channels, std::vector<std::uint8_t>& out) const;
  // What to write over the prelude (each at its offset, never changing the prelude's length) so
  // that the file says it holds `frames` frames.
  std::vector<C3dPatch> FrameCountPatches(std::uint64_t frames) const;
  // The zero bytes that fill the last data block of `frames` frames to a whole block.
  std::size_t Padding(std::uint64_t frames) const;

 private:
  // Where the frame count lies in the prelude.
  struct FrameCountOffsets {
    std::size_t headerLastFrame = 0;
    std::size_t pointFrames = 0;
    std::size_t longFrames = 0;
    std::size_t trialEndField = 0;
  };

  void Encode(const C3dDescription& description);

  std::size_t channels_ = 0;
  std::vector<std::uint8_t> prelude_;
  FrameCountOffsets countOffsets_;
  std::string problem_;
};

}  // namespace torva::host::analysis
