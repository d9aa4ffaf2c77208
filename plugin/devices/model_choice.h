#pragma once
// Which plate definition a detected plate gets: first by a model string found in the platform
// model, otherwise by the plate's length and width, otherwise the generic definition.
//
// Pure functions of their arguments; any thread may call them.

#include "plugin/devices/plate_definition.h"
#include "plugin/service/driver_service.h"

namespace Torva {

// Choice numbers: 0 is the generic definition, 1..12 the plate models.
namespace PlateChoice {
constexpr int kGeneric = 0;
constexpr int kTypeA = 1;
constexpr int kTypeM = 2;
constexpr int kTypeL = 3;
constexpr int kTypeB = 4;
constexpr int kTypeJ = 5;
constexpr int kTypeC = 6;
constexpr int kTypeD = 7;
constexpr int kTypeE = 8;
constexpr int kTypeF = 9;
constexpr int kTypeG = 10;
constexpr int kTypeH = 11;
constexpr int kTypeK = 12;
}  // namespace PlateChoice

// The choice for a detected plate. The platform model is searched for the model strings TypeA,
// TypeM, TypeL, TypeB, TypeJ, TypeC, TypeD, TypeE, TypeF, TypeG, TypeH, TypeK in that order, and the
// first one contained anywhere in it wins. Otherwise the platform length and width (decimal texts
// in inches; a text without a leading number counts as 0, and 0 as 19.7 inches) are matched against
// the known plate sizes within 1 % of the measured value, the first matching size winning.
// Otherwise the plate is generic.
int ChoosePlateModel(const VTorvaDriverService::VDeviceInfo& device);

// The definition of a choice; any number outside 1..12 gives the generic definition. The
// definition lives as long as the plugin; a plate device keeps its own copy.
const VTorvaGenericPlateDefinition& PlateDefinitionForChoice(int choice);

}  // namespace Torva
