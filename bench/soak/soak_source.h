#pragma once
// What a soak streams from and what it counts. Frames are counted per frame number (one per
// sample period); in chain mode they are summed over the plates.

namespace torva::soak {

struct SoakCounts {
  long long received = 0;  // frame numbers delivered
  // Frame numbers delivered by the stream that delivered fewest (a plate in chain mode; 0 when a
  // stream delivered nothing): one stream that stops must not hide behind the others.
  long long fewestReceived = 0;
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
  // Frame numbers expected per second of streaming, over all streams.
  virtual double FramesPerSecond() const = 0;
  // How many streams deliver frame numbers of their own (plates in chain mode, else 1).
  virtual int Streams() const = 0;
  // The counts so far; callable from any thread while streaming.
  virtual SoakCounts Counts() const = 0;
  // Stops streaming and shuts everything down; Counts() then holds the final figures.
  virtual void Stop() = 0;
};

}  // namespace torva::soak
