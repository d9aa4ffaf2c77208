#pragma once
// Plate definitions: what a force-plate device looks like to the host. A definition declares the
// device's identity, its "Connected" status, its force, moment and centre-of-pressure outputs, its
// dimensions, its origin and identity parameters, the blink action and the sync input.
//
// VTorvaGenericPlateDefinition describes a plate of unknown model; each plate model is a class
// derived from it that differs only in model string and dimensions.
//
// Life cycle and threads: definitions are built once (plate_definitions.h) and afterwards only read:
// the host's thread declares them, and a plate device copies the one chosen for its plate. A copy
// carries the parameter holder in which the device keeps its working values.

#include <string>

#include "plugin/devices/plate_parameter_holder.h"
#include "plugin/frame/host_interface.h"

namespace Torva {

using namespace SabloDigitalDevice;

// A plate model: its model string and its dimensions in metres.
struct VPlateModel {
  const char* name;
  double dimensionX;
  double dimensionY;
};

namespace PlateModels {
constexpr VPlateModel kGeneric{"Force plate", 0.5, 0.5};
constexpr VPlateModel kTypeA{"TypeA", 0.4, 0.6};
constexpr VPlateModel kTypeM{"TypeM", 0.464, 0.508};
constexpr VPlateModel kTypeL{"TypeL", 0.464, 0.508};
constexpr VPlateModel kTypeB{"TypeB", 0.464, 0.508};
constexpr VPlateModel kTypeJ{"TypeJ", 0.498, 0.498};
constexpr VPlateModel kTypeC{"TypeC", 0.6, 0.6};
constexpr VPlateModel kTypeD{"TypeD", 0.6, 0.9};
constexpr VPlateModel kTypeE{"TypeE", 0.6, 1.2};
constexpr VPlateModel kTypeF{"TypeF", 0.603, 0.9};
constexpr VPlateModel kTypeG{"TypeG", 0.9, 0.9};
constexpr VPlateModel kTypeH{"TypeH", 1.2, 1.2};
constexpr VPlateModel kTypeK{"TypeK", 0.61, 0.711};
}  // namespace PlateModels

class VTorvaGenericPlateDefinition : public IDeviceDefinition, public VGenericPlateParameterHolder {
 public:
  VTorvaGenericPlateDefinition();

  // Declares the device, its status, outputs, dimensions, parameters and sync input, in the order
  // the host expects; the blink action only when includeBlink is set. Every result the registry
  // hands back is released and otherwise ignored. A null registry declares nothing. A declaration
  // that fails midway (out of memory) ends there; the definition has no log to report it to.
  void Declare(IDefinitionRegistry* registry, bool includeBlink) override;

  std::string description;
  std::string maker;
  std::string version;
  std::string syncInputName;
  std::string model;
  double dimensionX;  // metres
  double dimensionY;  // metres

 protected:
  explicit VTorvaGenericPlateDefinition(const VPlateModel& plateModel);

 private:
  void DeclareTo(IDefinitionRegistry* registry, bool includeBlink);
};

class VTorva_TypeA_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeA_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeA) {}
};

class VTorva_TypeM_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeM_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeM) {}
};

class VTorva_TypeL_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeL_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeL) {}
};

class VTorva_TypeB_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeB_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeB) {}
};

class VTorva_TypeJ_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeJ_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeJ) {}
};

class VTorva_TypeC_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeC_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeC) {}
};

class VTorva_TypeD_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeD_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeD) {}
};

class VTorva_TypeE_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeE_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeE) {}
};

class VTorva_TypeF_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeF_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeF) {}
};

class VTorva_TypeG_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeG_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeG) {}
};

class VTorva_TypeH_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeH_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeH) {}
};

class VTorva_TypeK_PlateDefinition final : public VTorvaGenericPlateDefinition {
 public:
  VTorva_TypeK_PlateDefinition() : VTorvaGenericPlateDefinition(PlateModels::kTypeK) {}
};

}  // namespace Torva
