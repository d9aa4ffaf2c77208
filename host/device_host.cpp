#include "host/device_host.h"

#include <algorithm>
#include <utility>

#include "host/host_values.h"

namespace torva::host {

namespace SDD = SabloDigitalDevice;

namespace {

std::string ParameterText(const std::string& name) { return "parameter \"" + name + "\""; }

bool SameId(const SDD::ParameterId& left, const SDD::ParameterId& right) {
  return left.low == right.low && left.high == right.high;
}

}  // namespace

DeviceHost::DeviceHost(std::string instanceName, const DeviceDefinition& definition,
                       FrameSink& sink)
    : instanceName_(std::move(instanceName)), sink_(sink), store_(definition) {
  for (const OutputDefinition& output : definition.outputs) {
    componentCounts_.push_back(static_cast<std::uint32_t>(output.components.size()));
  }
}

void DeviceHost::GetParameter(SDD::HostResult** result, SDD::IParameterValue* value,
                              const char* name, const char* /*text*/) {
  AnswerCall(result, [&]() -> Refusal {
    if (value == nullptr) return ParameterText(TextOf(name)) + ": no value given";
    return Fetch(TextOf(name), *value);
  });
}

void DeviceHost::SetParameter(SDD::HostResult** result, SDD::IParameterValue* value,
                              const char* name, const char* /*text*/) {
  AnswerCall(result, [&]() -> Refusal {
    if (value == nullptr) return ParameterText(TextOf(name)) + ": no value given";
    return Store(TextOf(name), *value, false);
  });
}

std::uint32_t DeviceHost::ChangedParameterCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  lastReportedCount_ = static_cast<std::uint32_t>(changed_.size());
  return lastReportedCount_;
}

void DeviceHost::GetChangedParameters(SDD::HostResult** result, std::uint32_t* key,
                                      SDD::ParameterId* ids, std::uint32_t* count) {
  AnswerCall(result, [&]() -> Refusal {
    if (count == nullptr) return std::string("no count given for the changed parameters");
    const std::uint32_t room = *count;
    *count = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    // Never more than the caller was told to make room for, nor more than it says it has.
    std::uint32_t written =
        std::min(lastReportedCount_, static_cast<std::uint32_t>(changed_.size()));
    if (room != 0) written = std::min(written, room);
    if (written != 0 && ids == nullptr) {
      return std::string("no room given for the changed parameters");
    }
    std::copy(changed_.begin(), changed_.begin() + written, ids);
    changed_.erase(changed_.begin(), changed_.begin() + written);
    lastReportedCount_ -= written;
    *count = written;
    if (key != nullptr) ++*key;
    return std::nullopt;
  });
}

void DeviceHost::PushFrames(SDD::HostResult** result, SDD::CaptureHandle handle,
                            std::int64_t firstFrame, std::uint32_t samples,
                            const std::uint32_t* outputIds, std::uint32_t outputCount,
                            const float* values, std::uint32_t valueCount) {
  AnswerCall(result, [&]() -> Refusal {
    Refusal refusal = CheckBlock(handle, samples, outputIds, outputCount, values, valueCount);
    if (refusal) return refusal;
    sink_.Deliver(instanceName_, firstFrame, samples, outputIds, outputCount, values, valueCount);
    return std::nullopt;
  });
}

void DeviceHost::NotifyStatusChanged() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++notifications_;
  }
  statusChanged_.notify_all();
}

Refusal DeviceHost::SetByHost(const std::string& name, const SDD::IParameterValue& value) {
  return Store(name, value, true);
}

Refusal DeviceHost::ReadByHost(const std::string& name, SDD::IParameterValue& target) const {
  return Fetch(name, target);
}

void DeviceHost::BeginCapture(SDD::CaptureHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  captureHandle_ = handle;
}

bool DeviceHost::WaitForStatusChange(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!statusChanged_.wait_for(lock, limit, [&] { return notifications_ > notificationsTaken_; })) {
    return false;
  }
  notificationsTaken_ = notifications_;
  return true;
}

std::uint64_t DeviceHost::StatusNotificationCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notifications_;
}

Refusal DeviceHost::Store(const std::string& name, const SDD::IParameterValue& value,
                          bool markChanged) {
  std::optional<StoredParameter> stored;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stored = store_.Find(name);
  }
  if (!stored) return "unknown " + ParameterText(name);
  const std::int32_t typeCode = value.GetType();
  if (typeCode != stored->typeCode) {
    return ParameterText(name) + " is of type " + std::to_string(stored->typeCode) + ", not " +
           std::to_string(typeCode);
  }
  // The value is read outside the lock (it is plugin code) into a host value of the stored type,
  // which takes only a whole, well-formed byte form of that type.
  const auto hostValue = MakeHostValue(stored->typeCode);
  ValueBytes bytes;
  if (!hostValue || !value.CopyTo(*hostValue) || !ReadValueBytes(*hostValue, bytes)) {
    return "the value given for " + ParameterText(name) + " cannot be read";
  }
  std::lock_guard<std::mutex> lock(mutex_);
  store_.Replace(name, std::move(bytes));
  if (markChanged &&
      std::none_of(changed_.begin(), changed_.end(),
                   [&](const SDD::ParameterId& id) { return SameId(id, stored->id); })) {
    changed_.push_back(stored->id);
  }
  return std::nullopt;
}

Refusal DeviceHost::Fetch(const std::string& name, SDD::IParameterValue& target) const {
  std::optional<StoredParameter> stored;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stored = store_.Find(name);
  }
  if (!stored) return "unknown " + ParameterText(name);
  if (!target.AssignFromBytes(stored->bytes.data(),
                              static_cast<std::uint32_t>(stored->bytes.size()))) {
    return "the setting of " + ParameterText(name) + " does not fit the value given (type " +
           std::to_string(stored->typeCode) + ")";
  }
  return std::nullopt;
}

Refusal DeviceHost::CheckBlock(SDD::CaptureHandle handle, std::uint32_t samples,
                               const std::uint32_t* outputIds, std::uint32_t outputCount,
                               const float* values, std::uint32_t valueCount) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!captureHandle_) return std::string("frames pushed before any capture was prepared");
    if (handle != *captureHandle_)
      return std::string("frames pushed with an unknown capture handle");
  }
  if (outputCount != 0 && outputIds == nullptr) return std::string("no output identifiers given");
  std::uint64_t componentsPerSample = 0;
  for (std::uint32_t index = 0; index < outputCount; ++index) {
    const std::uint32_t output = outputIds[index];
    if (output >= componentCounts_.size()) return "unknown output " + std::to_string(output);
    if (std::find(outputIds, outputIds + index, output) != outputIds + index) {
      return "output " + std::to_string(output) + " listed twice";
    }
    componentsPerSample += componentCounts_[output];
  }
  const std::uint64_t expected = componentsPerSample * samples;
  if (expected != valueCount) {
    return std::to_string(valueCount) + " floats given for " + std::to_string(samples) +
           " samples of " + std::to_string(componentsPerSample) + " components (" +
           std::to_string(expected) + " expected)";
  }
  if (valueCount != 0 && values == nullptr) return std::string("no frame values given");
  return std::nullopt;
}

}  // namespace torva::host
