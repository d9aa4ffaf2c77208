#include "plugin/devices/shared_config_parameter_holder.h"

#include <string>
#include <vector>

namespace Torva {

using namespace SabloDigitalDevice;

namespace {

constexpr bool kDeclared = true;
constexpr std::uint32_t kHighWord = 0;

IParameterValueEnum SyncModeChoice() {
  IParameterValueEnum value;
  value.SetOptions({kSoftwareTriggerOption, kHardwareTriggerOption});
  value.SetValue(kSoftwareTriggerOption);
  return value;
}

IParameterValueEnum SampleRateChoice() {
  std::vector<std::string> options;
  options.reserve(kMasterRateList.size());
  for (const std::uint32_t rate : kMasterRateList) options.push_back(std::to_string(rate));
  IParameterValueEnum value;
  value.SetOptions(options);
  value.SetValue(std::to_string(kDefaultSampleRate));
  return value;
}

IParameterValueDouble DataThresholdValue() {
  IParameterValueDouble value;
  value.SetValue(kDefaultDataThreshold);
  value.SetMinimum(kLowestDataThreshold);
  value.SetMaximum(kHighestDataThreshold);
  value.SetRangeCheck(true);
  return value;
}

// The USB reset carries the third attribute; what it means is the host's.
IParameterValueAction ResetUsbAction() {
  IParameterValueAction value;
  value.SetAttribute3(true);
  return value;
}

}  // namespace

VSharedConfigParameterHolder::VSharedConfigParameterHolder()
    : SyncMode{"SyncMode", "Synchronization mode", "Synchronization mode", "Device collection",
               kDeclared, SyncModeChoice(), {SharedConfigParameterId::kSyncMode, kHighWord}},
      SampleRate{"SampleRate", "Acquisition rate",
                 "Broadcasts an acquisition rate, in datasets per second, to all connected signal "
                 "conditioners.",
                 "Device collection", kDeclared, SampleRateChoice(),
                 {SharedConfigParameterId::kSampleRate, kHighWord}},
      DataThreshold{"DataThreshold", "Fz Threshold", "Fz limit below which data are not collected.",
                    "Device collection", kDeclared, DataThresholdValue(),
                    {SharedConfigParameterId::kDataThreshold, kHighWord}},
      BroadcastZero{"BroadcastZero", "Zero digital platforms",
                    "Send a 'Zero' command to all of the signal conditioners. Calling this "
                    "function doesn't interrupt data acquisition.",
                    "Actions", kDeclared, IParameterValueAction(),
                    {SharedConfigParameterId::kBroadcastZero, kHighWord}},
      BroadcastResetUSB{"BroadcastResetUSB", "Reset USB",
                        "This function resets the USB pipes from the PC to the signal conditioner "
                        "for all connect signal conditioners.     Its only current use is "
                        "resetting the data collection after a two second  data collection pause "
                        "caused by an extended Genlock timeout.",
                        "Device collection", kDeclared, ResetUsbAction(),
                        {SharedConfigParameterId::kBroadcastResetUSB, kHighWord}},
      ScanForHardware{"ScanForHardware", "Detect Torva digital devices",
                      "Search for additional signal conditioners", "Plug-in", kDeclared,
                      IParameterValueAction(),
                      {SharedConfigParameterId::kScanForHardware, kHighWord}} {}

const VSharedConfigParameterHolder& VSharedConfigParameterHolder::Prototype() {
  static const VSharedConfigParameterHolder prototype;
  return prototype;
}

}  // namespace Torva
