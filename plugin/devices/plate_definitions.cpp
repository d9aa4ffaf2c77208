#include "plugin/devices/plate_definitions.h"

namespace Torva {

const std::array<VPlateDeclaration, kPlateDefinitionCount>& PlateDeclarations() {
  constexpr bool kWithBlink = true;
  constexpr bool kWithoutBlink = false;  // TypeJ only
  static VTorva_TypeA_PlateDefinition typeA;
  static VTorva_TypeM_PlateDefinition typeM;
  static VTorva_TypeL_PlateDefinition typeL;
  static VTorva_TypeB_PlateDefinition typeB;
  static VTorva_TypeJ_PlateDefinition typeJ;
  static VTorva_TypeC_PlateDefinition typeC;
  static VTorva_TypeD_PlateDefinition typeD;
  static VTorva_TypeE_PlateDefinition typeE;
  static VTorva_TypeF_PlateDefinition typeF;
  static VTorva_TypeG_PlateDefinition typeG;
  static VTorva_TypeH_PlateDefinition typeH;
  static VTorva_TypeK_PlateDefinition typeK;
  static VTorvaGenericPlateDefinition generic;
  static const std::array<VPlateDeclaration, kPlateDefinitionCount> declarations = {{
      {&typeA, kWithBlink},
      {&typeM, kWithBlink},
      {&typeL, kWithBlink},
      {&typeB, kWithBlink},
      {&typeJ, kWithoutBlink},
      {&typeC, kWithBlink},
      {&typeD, kWithBlink},
      {&typeE, kWithBlink},
      {&typeF, kWithBlink},
      {&typeG, kWithBlink},
      {&typeH, kWithBlink},
      {&typeK, kWithBlink},
      {&generic, kWithBlink},
  }};
  return declarations;
}

void DeclarePlateDefinitions(IDefinitionRegistry* registry) {
  for (const VPlateDeclaration& declaration : PlateDeclarations()) {
    declaration.definition->Declare(registry, declaration.includeBlink);
  }
}

}  // namespace Torva
