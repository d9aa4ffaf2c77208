#pragma once
// When the packets of a frame arrived, for latency figures: a frame's latency runs from the bulk
// read that returned its last packet. Packets are found in a device's data ring by the counter of
// their first sample.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "driver/api/usb_manager.h"
#include "driver/layout/TorvaFrameLayout.h"
#include "driver/device/amplifier_device.h"

namespace torva::bench {



// When the packet whose first counter is `counter` arrived at `device`; `hint` remembers where the
// last one was found.
inline Clock::time_point ArrivalOf(const CUSBDevice& device, std::int32_t counter, int& hint) {
  for (int step = 0; step < CUSBDevice::kDataRingSlots; ++step) {
    const int slot = (hint + step) % CUSBDevice::kDataRingSlots;
    const CUSBDevice::DataSlotView view = device.DataSlot(slot);
    std::int32_t first = 0;
    if (view.data != nullptr) std::memcpy(&first, view.data, sizeof first);
    if (first == counter) {
      hint = slot;
      return device.ReceivedAt(slot);
    }
  }
  return {};
}

// Tracks the amplifiers' ring positions and gives the arrival of a format-1 frame's last packet.
class FrameArrival {
 public:
  explicit FrameArrival(int amplifiers)
      : amplifiers_(amplifiers), hints_(static_cast<std::size_t>(amplifiers), 0) {}
  // The latest arrival among the frame's packets (a default time point when none was found).
  Clock::time_point LastPacketOf(const float* frame) {
    CThreadManager& control = *CUSBManager::Instance().Control();
    const TorvaFrameLayout layout = {TORVA_FORMAT_RECORDS, amplifiers_};
    Clock::time_point last{};
    for (int position = 0; position < amplifiers_; ++position) {
      const auto counter =
          static_cast<std::int32_t>(frame[torva_frame_counter(layout, 0, position)]);
      const int slot = control.SlotAt(position);
      last = std::max(last, ArrivalOf(*control.Device(slot), counter,
                                      hints_[static_cast<std::size_t>(slot)]));
    }
    return last;
  }

 private:
  int amplifiers_;
  std::vector<int> hints_;
};

// Latencies in microseconds of `wanted` frames taken by this thread on the data-ready message, from
// the bulk read of each frame's last packet to the frame in hand (acquisition must be running).
inline std::vector<double> CollectFrameLatencies(int wanted, int amplifiers) {
  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(wanted));
  FrameArrival arrival(amplifiers);
  const auto deadline = Clock::now() + std::chrono::seconds(wanted / 40 + 30);
  while (static_cast<int>(latencies.size()) < wanted && Clock::now() < deadline) {
    WaitForDataReady(std::chrono::milliseconds(100));
    float* frame = nullptr;
    while (fmDLLTransferFloatData(&frame) > 0) {
      const Clock::time_point held = Clock::now();
      const Clock::time_point last = arrival.LastPacketOf(frame);
      if (last != Clock::time_point{})
        latencies.push_back(std::chrono::duration<double, std::micro>(held - last).count());
    }
  }
  return latencies;
}

inline double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index),
                   values.end());
  return values[index];
}

}  // namespace torva::bench
