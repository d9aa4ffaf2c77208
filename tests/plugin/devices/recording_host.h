#pragma once
// Test doubles of the host's objects for the plugin's devices: a device host and a capture setup
// that record what a device tells them. Results they hand out are counted results the device must
// release.

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_result.h"
#include "plugin/devices/parameter_value.h"
#include "plugin/frame/host_interface.h"

namespace Torva {

using SabloDigitalDevice::CaptureHandle;
using SabloDigitalDevice::HostResult;
using SabloDigitalDevice::IParameterValue;
using SabloDigitalDevice::ParameterId;
using SabloDigitalDevice::IParameterValueBool;
using SabloDigitalDevice::IParameterValueDouble;
using SabloDigitalDevice::IParameterValueEnum;
using SabloDigitalDevice::IParameterValueString;

// Records what the device tells the host; the changed identifiers and the counts it reports and
// writes are the test's to set.
class RecordingHost final : public SabloDigitalDevice::IDeviceHost {
 public:
  void GetParameter(HostResult** result, IParameterValue* value, const char* name,
                    const char*) override {
    gets.push_back(name);
    *result = nullptr;
    const auto text = texts.find(name);
    if (text != texts.end()) {
      // The host's value, handed over through the byte form as a host does.
      IParameterValueEnum option;
      option.SetValue(text->second);
      if (!option.CopyTo(*value)) {
        IParameterValueString plain;
        plain.SetValue(text->second);
        plain.CopyTo(*value);
      }
    }
    const auto number = numbers.find(name);
    if (number != numbers.end()) {
      IParameterValueDouble held;
      held.SetValue(number->second);
      held.CopyTo(*value);
    }
  }
  void SetParameter(HostResult** result, IParameterValue* value, const char* name,
                    const char*) override {
    sets.push_back(name);
    // Read as the host does, through the byte form: a copy into another class fails.
    IParameterValueDouble number;
    if (value->CopyTo(number)) doubles[name] = number.GetValue();
    IParameterValueBool flag;
    if (value->CopyTo(flag)) bools[name] = flag.GetValue();
    *result = torva::host::CountedResult::Make("noted");  // the device must release it
  }
  std::uint32_t ChangedParameterCount() override {
    return reportedCount ? reportedCount : static_cast<std::uint32_t>(changed.size());
  }
  void GetChangedParameters(HostResult** result, std::uint32_t*, ParameterId* ids,
                            std::uint32_t* count) override {
    for (std::size_t i = 0; i < changed.size(); ++i) ids[i] = changed[i];
    *count = writtenCount ? writtenCount : static_cast<std::uint32_t>(changed.size());
    *result = nullptr;
  }
  void PushFrames(HostResult** result, CaptureHandle, std::int64_t firstFrame, std::uint32_t samples,
                  const std::uint32_t*, std::uint32_t outputs, const float*,
                  std::uint32_t values) override {
    ++pushes;
    if (keepFrames) frames.push_back(firstFrame);
    EXPECT_EQ(samples, 16u);
    EXPECT_EQ(outputs, 3u);
    EXPECT_EQ(values, 144u);
    *result = nullptr;
  }
  void NotifyStatusChanged() override { ++notifications; }

  std::map<std::string, std::string> texts;  // what GetParameter answers, by name
  std::map<std::string, double> numbers;
  int notifications = 0;
  std::vector<std::string> gets, sets;
  std::map<std::string, double> doubles;
  std::map<std::string, bool> bools;
  std::vector<ParameterId> changed;
  std::uint32_t writtenCount = 0;
  std::uint32_t reportedCount = 0;  // nonzero: what ChangedParameterCount says instead of the size
  std::vector<std::int64_t> frames;
  bool keepFrames = true;  // false: only count, allocating nothing
  int pushes = 0;
};

class RecordingSetup final : public SabloDigitalDevice::ICaptureSetup {
 public:
  void SetTicksPerSample(HostResult** result, std::uint64_t value) override {
    ticks = value;
    *result = nullptr;
  }
  void ConfigureSyncInput(HostResult** result, const char* name, int, std::uint32_t value, int,
                          int, int) override {
    syncInput = name;
    timeout = value;
    *result = nullptr;
  }
  void SetCaptureOption(int value) override { option = value; }
  void SetSamplesPerBlock(HostResult** result, std::uint32_t value) override {
    samples = value;
    *result = nullptr;
  }
  std::uint64_t ticks = 0;
  std::string syncInput;
  std::uint32_t timeout = 0;
  int option = 0;
  std::uint32_t samples = 0;
};

// Instantiates as a host does: records the instance, then attaches the device on this thread.
// Names listed in `refuse` get a result with a text instead.
class RecordingInstantiator final : public SabloDigitalDevice::IDeviceInstantiator {
 public:
  explicit RecordingInstantiator(SabloDigitalDevice::IDeviceHost* deviceHost) : host(deviceHost) {}
  void Instantiate(HostResult** result, const char*, const char* definition, const char*,
                   const char* instance, SabloDigitalDevice::IDevice* device) override {
    {
      // The plugin instantiates plates on its worker while a test may be looking.
      std::lock_guard<std::mutex> lock(mutex);
      instances.push_back(instance);
      definitions.push_back(definition);
    }
    if (refuse.count(instance) != 0) {
      *result = torva::host::CountedResult::Make("name in use");
      return;
    }
    *result = nullptr;
    device->Attach(host);
  }
  std::size_t InstanceCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return instances.size();
  }
  std::vector<std::string> Instances() const {
    std::lock_guard<std::mutex> lock(mutex);
    return instances;
  }
  std::vector<std::string> Definitions() const {
    std::lock_guard<std::mutex> lock(mutex);
    return definitions;
  }
  SabloDigitalDevice::IDeviceHost* host;
  mutable std::mutex mutex;
  std::vector<std::string> instances, definitions;
  std::map<std::string, int> refuse;
};

}  // namespace Torva
