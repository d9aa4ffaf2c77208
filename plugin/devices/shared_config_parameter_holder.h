#pragma once
// VSharedConfigParameterHolder: the settings all plates share (synchronization mode, acquisition
// rate, Fz threshold) and the three actions (zero, reset USB, scan for hardware) of the
// shared-configuration device. The definition declares them to the host and the device keeps its
// working values in them. Copying a holder copies every descriptor, value and option.

#include <array>
#include <cstdint>

#include "plugin/devices/parameter_descriptor.h"
#include "plugin/devices/parameter_value.h"

namespace Torva {

using namespace SabloDigitalDevice;

// Identifier low words (the high words are 0).
namespace SharedConfigParameterId {
constexpr std::uint32_t kBroadcastResetUSB = 0;
constexpr std::uint32_t kScanForHardware = 1;
constexpr std::uint32_t kBroadcastZero = 2;
constexpr std::uint32_t kSyncMode = 3;
constexpr std::uint32_t kSampleRate = 4;
constexpr std::uint32_t kDataThreshold = 5;
}  // namespace SharedConfigParameterId

// Every acquisition rate the system knows, in datasets per second, strictly descending. The rate
// parameter offers them as decimal texts in this order.
constexpr std::array<std::uint32_t, 34> kMasterRateList = {
    2000, 1800, 1500, 1200, 1000, 900, 800, 600, 500, 450, 400, 360, 300, 250, 240, 225, 200,
    180,  150,  125,  120,  100,  90,  80,  75,  60,  50,  45,  40,  30,  25,  20,  15,  10};
constexpr std::uint32_t kDefaultSampleRate = 1000;

// The synchronization mode's options, in option order.
inline constexpr const char* kSoftwareTriggerOption = "Software trigger";
inline constexpr const char* kHardwareTriggerOption = "Hardware trigger";

// The Fz threshold in newtons: default and the range the host enforces.
constexpr double kDefaultDataThreshold = 20.0;
constexpr double kLowestDataThreshold = 0.0;
constexpr double kHighestDataThreshold = 50.0;

class VSharedConfigParameterHolder {
 public:
  // Every parameter with its texts, options and defaults.
  VSharedConfigParameterHolder();

  // The holder every shared-configuration definition copies. Built on first use, so it never
  // depends on the order in which the global objects of different files are constructed.
  static const VSharedConfigParameterHolder& Prototype();

  // Calls visit(descriptor) for the six descriptors in holder order.
  template <class Visitor>
  void ForEachParameter(Visitor&& visit) {
    VisitAll(*this, visit);
  }
  template <class Visitor>
  void ForEachParameter(Visitor&& visit) const {
    VisitAll(*this, visit);
  }

  ParameterDescriptor<IParameterValueEnum> SyncMode;
  ParameterDescriptor<IParameterValueEnum> SampleRate;
  ParameterDescriptor<IParameterValueDouble> DataThreshold;
  ParameterDescriptor<IParameterValueAction> BroadcastZero;
  ParameterDescriptor<IParameterValueAction> BroadcastResetUSB;
  ParameterDescriptor<IParameterValueAction> ScanForHardware;

 private:
  template <class Holder, class Visitor>
  static void VisitAll(Holder& holder, Visitor& visit) {
    visit(holder.SyncMode);
    visit(holder.SampleRate);
    visit(holder.DataThreshold);
    visit(holder.BroadcastZero);
    visit(holder.BroadcastResetUSB);
    visit(holder.ScanForHardware);
  }
};

}  // namespace Torva
