#pragma once
// The thirteen plate definitions the plugin declares to the host: the twelve plate models and the
// generic plate, in declaration order (TypeA, TypeM, TypeL, TypeB, TypeJ, TypeC, TypeD, TypeE,
// TypeF, TypeG, TypeH, TypeK, generic). TypeJ is declared without the blink action.
//
// Life cycle and threads: the definitions are built on first use (thread-safe, once) and live until
// the plugin is unloaded, so nothing depends on the order in which the global objects of different
// files are constructed. After construction nobody changes them: the host's thread declares them and
// plate devices copy them, from any thread.

#include <array>
#include <cstddef>

#include "plugin/devices/plate_definition.h"

namespace Torva {

// One definition with the include-blink flag it is declared with.
struct VPlateDeclaration {
  VTorvaGenericPlateDefinition* definition;
  bool includeBlink;
};

constexpr std::size_t kPlateDefinitionCount = 13;

// The plate definitions in declaration order; the generic definition comes last.
const std::array<VPlateDeclaration, kPlateDefinitionCount>& PlateDeclarations();

// Declares every plate definition on the registry, in declaration order, each with its flag.
void DeclarePlateDefinitions(IDefinitionRegistry* registry);

}  // namespace Torva
