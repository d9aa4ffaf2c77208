#pragma once
// The stand-in host's HostResult: a reference-counted text that deletes itself on its last
// release. The host counts the results alive, so a test can check that the plugin released every
// result it was handed.
//
// Threads: any; the counts are atomic.

#include <atomic>
#include <string>

#include "plugin/frame/host_interface.h"

namespace torva::host {

class CountedResult final : public SabloDigitalDevice::HostResult {
 public:
  // A new result with one reference, for the receiver to release.
  static SabloDigitalDevice::HostResult* Make(std::string text);
  // Results made and not yet released for the last time, in this process.
  static long Alive() { return alive_.load(); }

  const char* Text() const override { return text_.c_str(); }
  void AddReference() override { references_.fetch_add(1); }
  void Release() override;

 private:
  explicit CountedResult(std::string text) : text_(std::move(text)) {}
  ~CountedResult() = default;

  std::string text_;
  std::atomic<int> references_{1};
  static std::atomic<long> alive_;
};

}  // namespace torva::host
