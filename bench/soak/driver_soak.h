#pragma once
// Driver mode: emulated amplifiers streamed through the driver library's fm… interface. A reader
// thread of its own receives the data-ready messages, takes every frame and checks the frames'
// sample counters follow on; the library's dropped-sample and ring-overrun counts are read as it
// goes and once more after the stop.

#include <atomic>
#include <thread>

#include "bench/soak/soak_source.h"

namespace torva::soak {

class DriverSoak final : public SoakSource {
 public:
  DriverSoak(int amplifiers, int rate) : amplifiers_(amplifiers), rate_(rate) {}
  ~DriverSoak() override { Stop(); }

  bool Start() override;
  bool Streaming() const override { return receivedFrames_.load() > 0; }
  double FramesPerSecond() const override { return rate_; }
  int Streams() const override { return 1; }
  SoakCounts Counts() const override;
  void Stop() override;

 private:
  void Read();

  const int amplifiers_;
  const int rate_;
  std::thread reader_;
  std::atomic<bool> stopping_{false};
  // Set by the reader once the bring-up has ended: 1 streaming, -1 failed.
  std::atomic<int> started_{0};
  std::atomic<long long> receivedFrames_{0};
  std::atomic<long long> missingFrames_{0};
  std::atomic<long long> finalDropped_{-1};
  std::atomic<long long> finalOverruns_{-1};
};

}  // namespace torva::soak
