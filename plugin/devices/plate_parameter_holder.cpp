#include "plugin/devices/plate_parameter_holder.h"

namespace Torva {

using namespace SabloDigitalDevice;

namespace {

constexpr bool kDeclared = true;
constexpr std::uint32_t kHighWord = 0;

// Amplifier and platform identity: read-only texts the plugin fills from the detected hardware,
// marked by the first two attributes.
IParameterValueString IdentityText() {
  IParameterValueString value;
  value.SetAttribute1(true);
  value.SetAttribute2(true);
  return value;
}

// A plate's origin offset in metres, the full double range and no range check.
IParameterValueDouble OriginOffset() {
  IParameterValueDouble value;
  value.SetAttribute1(true);
  value.SetAttribute2(true);
  return value;
}

}  // namespace

VGenericPlateParameterHolder::VGenericPlateParameterHolder()
    : FirmwareVersion{"FirmwareVersion", "Firmware Version", "Firmware Version", "Amplifier",
                      kDeclared, IdentityText(), {PlateParameterId::kFirmwareVersion, kHighWord}},
      AmplifierModel{"AmplifierModel", "Amplifier Model", "Amplifier Model", "Amplifier",
                     kDeclared, IdentityText(), {PlateParameterId::kAmplifierModel, kHighWord}},
      AmplifierSerial{"AmplifierSerial", "Amplifier Serial", "Amplifier Serial", "Amplifier",
                      kDeclared, IdentityText(), {PlateParameterId::kAmplifierSerial, kHighWord}},
      PlatformModel{"PlatformModel", "Platform Model", "Platform Model", "Platform", kDeclared,
                    IdentityText(), {PlateParameterId::kPlatformModel, kHighWord}},
      PlatformSerial{"PlatformSerial", "Platform Serial", "Platform Serial", "Platform",
                     kDeclared, IdentityText(), {PlateParameterId::kPlatformSerial, kHighWord}},
      BlinkAction{"BlinkAction", "Blink",
                  "Make the selected signal conditioner blink. The amber light will blink for ten "
                  "seconds. ",
                  "Amplifier", kDeclared, IParameterValueAction(),
                  {PlateParameterId::kBlinkAction, kHighWord}},
      ParameterA{"ParameterA", "a", "X displacement from sensor origin to force plate origin.",
                 "Origin", kDeclared, OriginOffset(), {PlateParameterId::kOriginOffset, kHighWord}},
      ParameterB{"ParameterB", "b", "Y displacement from sensor origin to force plate origin.",
                 "Origin", kDeclared, OriginOffset(), {PlateParameterId::kOriginOffset, kHighWord}},
      ParameterAZ0{"ParameterAZ0", "az0",
                   "Negative Z displacement from sensor origin to force plate surface.", "Origin",
                   kDeclared, OriginOffset(), {PlateParameterId::kOriginOffset, kHighWord}} {}

}  // namespace Torva
