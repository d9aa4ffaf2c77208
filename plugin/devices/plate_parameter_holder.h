#pragma once
// VGenericPlateParameterHolder: the identity, blink and origin parameters of a force-plate device.
// A plate definition declares them to the host and a plate device keeps its working values in
// them. Copying a holder copies every descriptor and value.

#include <cstdint>

#include "plugin/devices/parameter_descriptor.h"
#include "plugin/devices/parameter_value.h"

namespace Torva {

using namespace SabloDigitalDevice;

// Identifier low words (the high words are 0). The three origin offsets share one identifier.
namespace PlateParameterId {
constexpr std::uint32_t kFirmwareVersion = 0;
constexpr std::uint32_t kAmplifierModel = 1;
constexpr std::uint32_t kAmplifierSerial = 2;
constexpr std::uint32_t kPlatformModel = 3;
constexpr std::uint32_t kPlatformSerial = 4;
constexpr std::uint32_t kBlinkAction = 5;
constexpr std::uint32_t kOriginOffset = 6;
}  // namespace PlateParameterId

class VGenericPlateParameterHolder {
 public:
  // Every parameter with its texts; identity texts empty and origin offsets 0.0.
  VGenericPlateParameterHolder();

  // Calls visit(descriptor) for the nine descriptors in holder order.
  template <class Visitor>
  void ForEachParameter(Visitor&& visit) {
    VisitAll(*this, visit);
  }
  template <class Visitor>
  void ForEachParameter(Visitor&& visit) const {
    VisitAll(*this, visit);
  }

  ParameterDescriptor<IParameterValueString> FirmwareVersion;
  ParameterDescriptor<IParameterValueString> AmplifierModel;
  ParameterDescriptor<IParameterValueString> AmplifierSerial;
  ParameterDescriptor<IParameterValueString> PlatformModel;
  ParameterDescriptor<IParameterValueString> PlatformSerial;
  ParameterDescriptor<IParameterValueAction> BlinkAction;
  ParameterDescriptor<IParameterValueDouble> ParameterA;
  ParameterDescriptor<IParameterValueDouble> ParameterB;
  ParameterDescriptor<IParameterValueDouble> ParameterAZ0;

 private:
  template <class Holder, class Visitor>
  static void VisitAll(Holder& holder, Visitor& visit) {
    visit(holder.FirmwareVersion);
    visit(holder.AmplifierModel);
    visit(holder.AmplifierSerial);
    visit(holder.PlatformModel);
    visit(holder.PlatformSerial);
    visit(holder.BlinkAction);
    visit(holder.ParameterA);
    visit(holder.ParameterB);
    visit(holder.ParameterAZ0);
  }
};

}  // namespace Torva
