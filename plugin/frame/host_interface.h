#pragma once
// The motion-capture host's device interface, as the plugin and the host meet through it.
//
// Boundary rules, for every declaration below:
// - Declaration order is slot order: each class's virtual operations are declared in the order of
//   their slots, and where the host leaves a slot unused a reserved operation holds its place.
// - Host objects are owned by the host: their destructors are protected and non-virtual, so
//   neither side can delete the other's objects through these interfaces (and slot 0 of HostResult
//   is Text). The plugin's objects (IDevice, IDeviceDefinition) have virtual destructors in slot 0.
// - Strings cross as NUL-terminated const char*; parameter values cross only through
//   IParameterValue and its byte form; results come back as out-arguments (HostResult**), where
//   null means success and every non-null result is released by whoever received it.
// - Nothing is thrown across, and no RTTI is used across: both sides are built with hidden
//   visibility and each module has its own copy of these declarations.

#include <cstdint>

namespace SabloDigitalDevice {

class IParameterValue;
class IDevice;

// A parameter's identifier: two 32-bit words, low then high.
struct ParameterId {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};

// The host's handle of a capture, handed to PrepareCapture and passed back with PushFrames.
using CaptureHandle = void*;

// A result the host hands back through an out-argument; null means success.
class HostResult {
 public:
  virtual const char* Text() const = 0;  // 0
  virtual void AddReference() = 0;       // 1
  virtual void Release() = 0;            // 2

 protected:
  ~HostResult() = default;
};

// Handed over by Initialise.
class IHostServices {
 public:
  // Severity 0 (trace) .. 3 (error).
  virtual void Log(const char* text, int severity) = 0;  // 0
  // Ticks per second of the host's clock.
  virtual std::uint64_t ClockRate() = 0;  // 1
  virtual void Reserved2() = 0;           // 2
  // Seconds on the clock of IDevice::SetStartTime.
  virtual double CurrentTime() = 0;  // 3

 protected:
  ~IHostServices() = default;
};

// Handed over by ProvideDeviceDefinitions.
class IDefinitionRegistry {
 public:
  virtual void DeclareDevice(HostResult** result, const char* maker, const char* model,
                             const char* version, const char* description, const char* kind,
                             const char* text1, const char* text2) = 0;  // 0
  virtual void DeclareParameter(HostResult** result, const char* name, const char* displayName,
                                const char* description, const char* group, bool declare,
                                IParameterValue* value, std::uint32_t idLow,
                                std::uint32_t idHigh) = 0;  // 1
  virtual void DeclareSyncInput(HostResult** result, const char* name) = 0;  // 2
  virtual void DeclareOutput(HostResult** result, const char* name, int code) = 0;  // 3
  virtual void DeclareOutputComponent(HostResult** result, const char* name) = 0;  // 4
  virtual void Reserved5() = 0;                                                    // 5
  virtual void FinishDeclaration(HostResult** result) = 0;                         // 6

 protected:
  ~IDefinitionRegistry() = default;
};

// Handed over by BeginDeviceInstantiation.
class IDeviceInstantiator {
 public:
  virtual void Instantiate(HostResult** result, const char* maker, const char* definitionName,
                           const char* version, const char* instanceName,
                           IDevice* device) = 0;  // 0

 protected:
  ~IDeviceInstantiator() = default;
};

// Handed over by IDevice::Attach.
class IDeviceHost {
 public:
  virtual void GetParameter(HostResult** result, IParameterValue* value, const char* name,
                            const char* text) = 0;  // 0
  virtual void SetParameter(HostResult** result, IParameterValue* value, const char* name,
                            const char* text) = 0;  // 1
  virtual std::uint32_t ChangedParameterCount() = 0;  // 2
  // Fills at most *count identifiers (the caller sets *count to 0 first) and sets *count.
  virtual void GetChangedParameters(HostResult** result, std::uint32_t* key, ParameterId* ids,
                                    std::uint32_t* count) = 0;  // 3
  virtual void PushFrames(HostResult** result, CaptureHandle handle, std::int64_t firstFrame,
                          std::uint32_t samples, const std::uint32_t* outputIds,
                          std::uint32_t outputCount, const float* values,
                          std::uint32_t valueCount) = 0;  // 4
  virtual void NotifyStatusChanged() = 0;                 // 5

 protected:
  ~IDeviceHost() = default;
};

// Handed over by IDevice::PrepareCapture; valid during that call only.
class ICaptureSetup {
 public:
  virtual void SetTicksPerSample(HostResult** result, std::uint64_t ticks) = 0;  // 0
  virtual void ConfigureSyncInput(HostResult** result, const char* name, int mode,
                                  std::uint32_t timeout, int option1, int option2,
                                  int option3) = 0;  // 1
  virtual void SetCaptureOption(int option) = 0;     // 2
  virtual void SetSamplesPerBlock(HostResult** result, std::uint32_t samples) = 0;  // 3

 protected:
  ~ICaptureSetup() = default;
};

// A device the plugin makes and the host drives.
class IDevice {
 public:
  virtual ~IDevice() = default;                       // 0
  virtual void Attach(IDeviceHost* host) = 0;         // 1
  virtual void OnParametersChanged() = 0;             // 2
  virtual bool PrepareCapture(CaptureHandle handle, ICaptureSetup* setup) = 0;  // 3
  virtual void IgnoredNotification() = 0;             // 4
  virtual void SetStartTime(double time) = 0;         // 5
  virtual void OnCaptureStopped() = 0;                // 6
  virtual void GetStatus(std::int32_t* state, bool* needsPrepare) = 0;  // 7
};

// A kind of device the plugin declares to the host.
class IDeviceDefinition {
 public:
  virtual ~IDeviceDefinition() = default;                                    // 0
  virtual void Declare(IDefinitionRegistry* registry, bool includeBlink) = 0;  // 1
};

// Releases a result the host handed back (null: success, nothing to release) and clears it.
inline void ReleaseResult(HostResult*& result) {
  if (result != nullptr) result->Release();
  result = nullptr;
}

}  // namespace SabloDigitalDevice
