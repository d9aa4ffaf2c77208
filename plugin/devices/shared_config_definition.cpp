#include "plugin/devices/shared_config_definition.h"

#include "plugin/frame/call_barrier.h"

namespace Torva {

using namespace SabloDigitalDevice;

namespace {

constexpr const char* kMaker = "Torva";
constexpr const char* kName = "Digital device common settings";
constexpr const char* kVersion = "V1.0";
constexpr const char* kDescription =
    "This is a placeholder device controlling settings       common to all Torva devices";
constexpr const char* kDeviceKind = "Shared Configuration";
constexpr const char* kAddDevicesText = "Add Torva Helix/Vantor devices - BETA+9dbg";

}  // namespace

VSharedConfigDefinition::VSharedConfigDefinition()
    : VSharedConfigParameterHolder(VSharedConfigParameterHolder::Prototype()),
      maker(kMaker),
      name(kName),
      version(kVersion),
      description(kDescription) {}

void VSharedConfigDefinition::Declare(IDefinitionRegistry* registry, bool /*includeBlink*/) {
  Barrier([&] { DeclareTo(registry); }, Unreported);
}

void VSharedConfigDefinition::DeclareTo(IDefinitionRegistry* registry) {
  if (registry == nullptr) return;
  HostResult* result = nullptr;
  registry->DeclareDevice(&result, maker.c_str(), name.c_str(), version.c_str(),
                          description.c_str(), kDeviceKind, kAddDevicesText, "");
  ReleaseResult(result);
  DeclareDescriptor(*registry, SampleRate);
  DeclareDescriptor(*registry, SyncMode);
  DeclareDescriptor(*registry, DataThreshold);
  DeclareDescriptor(*registry, BroadcastZero);
  DeclareDescriptor(*registry, BroadcastResetUSB);
  DeclareDescriptor(*registry, ScanForHardware);
  registry->FinishDeclaration(&result);
  ReleaseResult(result);
}

}  // namespace Torva
