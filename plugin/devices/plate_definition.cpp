#include "plugin/devices/plate_definition.h"

#include <cstdint>
#include <initializer_list>

#include "plugin/frame/call_barrier.h"

namespace Torva {

using namespace SabloDigitalDevice;

namespace {

constexpr const char* kDescription =
    "This device represents an Torva force plate/signal conditioner pair";
constexpr const char* kMaker = "Torva";
constexpr const char* kVersion = "V1.0";
constexpr const char* kSyncInputName = "Sync Port";
constexpr const char* kDeviceKind = "ForcePlate";

// The host's output codes for the three outputs.
constexpr int kForceOutputCode = 13;
constexpr int kMomentOutputCode = 14;
constexpr int kCentreOfPressureOutputCode = 1;

// Identifier low words of the parameters the definition declares itself (high words are 0).
constexpr std::uint32_t kConnectedId = 0;
constexpr std::uint32_t kDimensionXId = 6;
constexpr std::uint32_t kDimensionYId = 0;
constexpr std::uint32_t kHighWord = 0;

// "Connected" is a status the host shows but does not list among the settings.
constexpr bool kStatusDeclared = false;
constexpr bool kDimensionDeclared = true;

void DeclareOutput(IDefinitionRegistry& registry, const char* name, int code,
                   std::initializer_list<const char*> components) {
  HostResult* result = nullptr;
  registry.DeclareOutput(&result, name, code);
  if (result != nullptr) {
    ReleaseResult(result);
    return;
  }
  for (const char* component : components) {
    registry.DeclareOutputComponent(&result, component);
    if (result != nullptr) {
      ReleaseResult(result);
      return;
    }
  }
}

void DeclareConnected(IDefinitionRegistry& registry) {
  IParameterValueBool connected;
  connected.SetValue(false);
  connected.SetAttribute1(true);
  connected.SetAttribute2(true);
  HostResult* result = nullptr;
  registry.DeclareParameter(&result, "Connected", "Connected",
                            "Indicates whether the device is connected", "Status", kStatusDeclared,
                            &connected, kConnectedId, kHighWord);
  ReleaseResult(result);
}

// The Y dimension is declared only when the host took the X dimension.
void DeclareDimensions(IDefinitionRegistry& registry, double dimensionX, double dimensionY) {
  IParameterValueDouble dimension;
  dimension.SetAttribute1(true);
  dimension.SetAttribute2(true);
  dimension.SetValue(dimensionX);
  HostResult* result = nullptr;
  registry.DeclareParameter(&result, "StandardDimension_X", "X",
                            "Length of force plate in the X Axis (meters)", "Dimensions",
                            kDimensionDeclared, &dimension, kDimensionXId, kHighWord);
  if (result != nullptr) {
    ReleaseResult(result);
    return;
  }
  dimension.SetValue(dimensionY);
  registry.DeclareParameter(&result, "StandardDimension_Y", "Y",
                            "Length of force plate in the Y Axis (meters)", "Dimensions",
                            kDimensionDeclared, &dimension, kDimensionYId, kHighWord);
  ReleaseResult(result);
}

}  // namespace

VTorvaGenericPlateDefinition::VTorvaGenericPlateDefinition()
    : VTorvaGenericPlateDefinition(PlateModels::kGeneric) {}

VTorvaGenericPlateDefinition::VTorvaGenericPlateDefinition(const VPlateModel& plateModel)
    : description(kDescription),
      maker(kMaker),
      version(kVersion),
      syncInputName(kSyncInputName),
      model(plateModel.name),
      dimensionX(plateModel.dimensionX),
      dimensionY(plateModel.dimensionY) {}

void VTorvaGenericPlateDefinition::Declare(IDefinitionRegistry* registry, bool includeBlink) {
  Barrier([&] { DeclareTo(registry, includeBlink); }, Unreported);
}

void VTorvaGenericPlateDefinition::DeclareTo(IDefinitionRegistry* registry, bool includeBlink) {
  if (registry == nullptr) return;
  HostResult* result = nullptr;
  registry->DeclareDevice(&result, maker.c_str(), model.c_str(), version.c_str(),
                          description.c_str(), kDeviceKind, "", "");
  ReleaseResult(result);
  DeclareConnected(*registry);
  DeclareOutput(*registry, "Force", kForceOutputCode, {"Fx", "Fy", "Fz"});
  DeclareOutput(*registry, "Moment", kMomentOutputCode, {"Mx", "My", "Mz"});
  DeclareOutput(*registry, "CoP", kCentreOfPressureOutputCode, {"Cx", "Cy", "Cz"});
  DeclareDimensions(*registry, dimensionX, dimensionY);
  DeclareDescriptor(*registry, ParameterA);
  DeclareDescriptor(*registry, ParameterB);
  DeclareDescriptor(*registry, ParameterAZ0);
  DeclareDescriptor(*registry, AmplifierModel);
  DeclareDescriptor(*registry, AmplifierSerial);
  DeclareDescriptor(*registry, PlatformModel);
  DeclareDescriptor(*registry, PlatformSerial);
  DeclareDescriptor(*registry, FirmwareVersion);
  if (includeBlink) DeclareDescriptor(*registry, BlinkAction);
  registry->DeclareSyncInput(&result, syncInputName.c_str());
  ReleaseResult(result);
  registry->FinishDeclaration(&result);
  ReleaseResult(result);
}

}  // namespace Torva
