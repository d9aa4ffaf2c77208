#pragma once
// Chain mode: emulated plates through the driver library, the plugin and the host core into a
// sink that counts pushed blocks and missing frame numbers per plate. The plugin owns the driver
// library here; the soak only reads its dropped-sample and ring-overrun counts.

#include <atomic>

#include "bench/chain_session.h"
#include "bench/counting_sink.h"
#include "bench/soak/soak_source.h"

namespace torva::soak {

class ChainSoak final : public SoakSource {
 public:
  ChainSoak(int plates, int rate) : plates_(plates), rate_(rate), session_(sink_) {}
  ~ChainSoak() override { Stop(); }

  bool Start() override;
  bool Streaming() const override { return !sink_.Plates().empty(); }
  double FramesPerSecond() const override { return appliedRate_ * plates_; }
  int Streams() const override { return plates_; }
  SoakCounts Counts() const override;
  void Stop() override;

  // Blocks pushed so far, all plates together.
  long long Blocks() const;
  double AppliedRate() const { return appliedRate_; }

 private:
  const int plates_;
  const int rate_;
  bench::CountingSink sink_;
  bench::ChainSession session_;
  double appliedRate_ = 0;
  bool open_ = false;
  long long finalDropped_ = -1;
  long long finalOverruns_ = -1;
};

}  // namespace torva::soak
