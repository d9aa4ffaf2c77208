#pragma once
// A frame sink for the chain benchmarks that counts blocks, samples and missing frame numbers per
// plate, keeping nothing else.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "host/frame_sink.h"

namespace torva::bench {

class CountingSink final : public host::FrameSink {
 public:
  void Deliver(const std::string& device, std::int64_t firstFrame, std::uint32_t samples,
               const std::uint32_t*, std::uint32_t, const float*, std::uint32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Plate& plate = plates_[device];
    if (plate.blocks > 0 && firstFrame != plate.next)
      plate.missing += firstFrame > plate.next ? firstFrame - plate.next : 1;
    plate.next = firstFrame + samples;
    ++plate.blocks;
    plate.samples += samples;
  }
  struct Plate {
    long long blocks = 0;
    long long samples = 0;
    long long missing = 0;
    std::int64_t next = 0;
  };
  std::map<std::string, Plate> Plates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plates_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Plate> plates_;
};

}  // namespace torva::bench
