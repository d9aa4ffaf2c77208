#include "plugin/devices/model_choice.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "plugin/devices/plate_definitions.h"

namespace Torva {

namespace {

constexpr int kFirstModelChoice = PlateChoice::kTypeA;
constexpr int kLastModelChoice = PlateChoice::kTypeK;

// A plate that reports no size is taken to be this long and wide.
constexpr double kMissingDimensionInches = 19.7;
constexpr double kMillimetresPerInch = 25.4;
// A measured dimension matches a known size when it is within this fraction of itself.
constexpr double kNearFraction = 0.01;

// A known plate size in millimetres and the choice it gives.
struct VPlateSize {
  double lengthMm;
  double widthMm;
  int choice;
};

// Searched in this order; the first matching size wins.
constexpr std::array<VPlateSize, 10> kPlateSizes = {{
    {600.0, 400.0, PlateChoice::kTypeA},
    {508.0, 464.0, PlateChoice::kTypeM},
    {498.0, 498.0, PlateChoice::kTypeJ},
    {600.0, 600.0, PlateChoice::kTypeC},
    {900.0, 600.0, PlateChoice::kTypeD},
    {1200.0, 600.0, PlateChoice::kTypeE},
    {900.0, 603.0, PlateChoice::kTypeF},
    {900.0, 900.0, PlateChoice::kTypeG},
    {1200.0, 1200.0, PlateChoice::kTypeH},
    {711.0, 610.0, PlateChoice::kTypeK},
}};

// The number at the start of a text (after leading blanks and an optional plus sign), 0 when there
// is none. Read independently of the process's locale, since the driver always writes a point.
double LeadingNumber(const std::string& text) {
  const char* first = text.data();
  const char* const last = text.data() + text.size();
  while (first != last && (*first == ' ' || *first == '\t' || *first == '\n' || *first == '\r' ||
                           *first == '\f' || *first == '\v')) {
    ++first;
  }
  if (first != last && *first == '+') ++first;
  double value = 0.0;
  const std::from_chars_result parsed = std::from_chars(first, last, value);
  return parsed.ec == std::errc() ? value : 0.0;
}

double DimensionMillimetres(const std::string& inchesText) {
  double inches = LeadingNumber(inchesText);
  if (inches == 0.0) inches = kMissingDimensionInches;
  return inches * kMillimetresPerInch;
}

// Strictly within kNearFraction of the measured value (not of the target).
bool Near(double measured, double target) {
  return std::fabs(measured - target) < std::fabs(measured * kNearFraction);
}

}  // namespace

int ChoosePlateModel(const VTorvaDriverService::VDeviceInfo& device) {
  for (int choice = kFirstModelChoice; choice <= kLastModelChoice; ++choice) {
    if (device.platformModel.find(PlateDefinitionForChoice(choice).model) != std::string::npos) {
      return choice;
    }
  }
  const double length = DimensionMillimetres(device.platformLength);
  const double width = DimensionMillimetres(device.platformWidth);
  for (const VPlateSize& size : kPlateSizes) {
    if (Near(length, size.lengthMm) && Near(width, size.widthMm)) return size.choice;
  }
  return PlateChoice::kGeneric;
}

const VTorvaGenericPlateDefinition& PlateDefinitionForChoice(int choice) {
  const auto& declarations = PlateDeclarations();
  // The model definitions are declared in choice order, the generic one last.
  if (choice >= kFirstModelChoice && choice <= kLastModelChoice) {
    return *declarations[static_cast<std::size_t>(choice - kFirstModelChoice)].definition;
  }
  return *declarations.back().definition;
}

}  // namespace Torva
