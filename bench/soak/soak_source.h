#pragma once
// What a soak streams from and what it counts. Frames are counted per frame number (one per
// sample period); in chain mode they are summed over the plates.

namespace torva::soak {

struct SoakCounts {
  long long received = 0;  // frame numbers delivered
  long long missing = 0;   // frame numbers skipped between delivered ones
  long long dropped = 0;   // samples the driver library counted as dropped
  long long overruns = 0;  // frames the library's ring overwrote before they were taken
};

class SoakSource {
 public:
  virtual ~SoakSource() = default;
  // Brings the emulated hardware up and starts streaming; false (having said why) on failure.
  virtual bool Start() = 0;
  // Whether the first frame has arrived: the soak's clock starts then.
  virtual bool Streaming() const = 0;
  // Frame numbers expected per second of streaming.
  virtual double FramesPerSecond() const = 0;
  // The counts so far; callable from any thread while streaming.
  virtual SoakCounts Counts() const = 0;
  // Stops streaming and shuts everything down; Counts() then holds the final figures.
  virtual void Stop() = 0;
};

}  // namespace torva::soak
