// `torvactl info`: every amplifier's identity and parameter block, read through the library.

#include <cstdio>
#include <string>

#include "driver/api/TorvaUSBDevice.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/library_session.h"

namespace torvactl {
namespace {

// A fixed-size text field, cut at its first NUL.
template <std::size_t N>
std::string Text(const char (&field)[N]) {
  std::size_t length = 0;
  while (length < N && field[length] != '\0') ++length;
  return std::string(field, length);
}

void PrintFloats(const char* label, const float* values, int count, int perLine = 6) {
  std::printf("  %-26s", label);
  for (int i = 0; i < count; ++i) {
    if (i > 0 && i % perLine == 0) std::printf("\n  %-26s", "");
    std::printf(" %10.4g", static_cast<double>(values[i]));
  }
  std::printf("\n");
}

void PrintInts(const char* label, const int* values, int count) {
  std::printf("  %-26s", label);
  for (int i = 0; i < count; ++i) std::printf(" %10d", values[i]);
  std::printf("\n");
}

void PrintSelectedAmplifier(int position) {
  char version[16], model[16], serial[16], date[12];
  char plateModel[28], plateSerial[16], length[16], width[16], plateDate[12];
  fmGetAmplifierFirmwareVersion(version);
  fmGetAmplifierModelNumber(model);
  fmGetAmplifierSerialNumber(serial);
  fmGetAmplifierDate(date);
  fmGetPlatformModelNumber(plateModel);
  fmGetPlatformSerialNumber(plateSerial);
  fmGetPlatformLengthAndWidth(length, width);
  fmGetPlatformDate(plateDate);

  std::printf("amplifier %d\n", position);
  std::printf("  %-26s %s\n", "amplifier serial", Text(serial).c_str());
  std::printf("  %-26s %s\n", "amplifier model", Text(model).c_str());
  std::printf("  %-26s %s\n", "firmware", Text(version).c_str());
  std::printf("  %-26s %s\n", "amplifier date", Text(date).c_str());
  std::printf("  %-26s %d\n", "product type", fmGetProductType());
  std::printf("  %-26s %s\n", "platform serial", Text(plateSerial).c_str());
  std::printf("  %-26s %s\n", "platform model", Text(plateModel).c_str());
  std::printf("  %-26s %s x %s in\n", "platform length x width", Text(length).c_str(),
              Text(width).c_str());
  std::printf("  %-26s %s\n", "platform date", Text(plateDate).c_str());
  std::printf("  %-26s %g deg\n", "platform rotation", static_cast<double>(fmGetPlatformRotation()));
  std::printf("  %-26s %d Hz\n", "acquisition rate", fmGetAcquisitionRate());
  std::printf("  %-26s %d\n", "run mode", fmGetRunMode());
  std::printf("  %-26s %d\n", "matrix mode", fmGetMatrixMode());
  std::printf("  %-26s %d\n", "smart-plate status", fmVantorGetStatus());
  std::printf("  %-26s %d\n", "excitation status", fmGetExcitationStatus());
  std::printf("  %-26s %d\n", "memory status", fmGetAmpliferMemoryStatus());
  std::printf("  %-26s %g\n", "A/D reference", static_cast<double>(fmGetADRef()));
  std::printf("  %-26s %g\n", "cable length", static_cast<double>(fmGetCableLength()));

  float three[3], six[6], eighteen[18], twentyFour[24], matrix[36];
  int selections[6];
  fmGetPlatformXYZOffsets(three);
  PrintFloats("platform X Y Z offsets (in)", three, 3);
  fmGetPlatformCapacity(six);
  PrintFloats("platform capacity", six, 6);
  fmGetPlatformBridgeResistance(six);
  PrintFloats("bridge resistance", six, 6);
  fmGetChannelOffsetsTable(six);
  PrintFloats("channel offsets", six, 6);
  fmGetCurrentGains(selections);
  PrintInts("gain selection", selections, 6);
  fmGetCurrentExcitations(selections);
  PrintInts("excitation selection", selections, 6);
  fmGetGainTable(twentyFour);
  PrintFloats("gain table", twentyFour, 24);
  fmGetExcitationTable(eighteen);
  PrintFloats("excitation table", eighteen, 18);
  fmGetInvertedSensitivityMatrix(matrix);
  PrintFloats("inverted sensitivity", matrix, 36);
  fmGetDACGainsTable(six);
  PrintFloats("DAC gains", six, 6);
  fmGetDACOffsetTable(six);
  PrintFloats("DAC offsets", six, 6);
  fmGetDACSensitivities(six);
  PrintFloats("DAC sensitivities", six, 6);
}

}  // namespace

int RunInfo(const std::vector<std::string>& arguments) {
  if (const auto status = ParseNoArguments("torvactl info", arguments)) return *status;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  const int count = fmDLLGetDeviceCount();
  if (count == 0) std::printf("no amplifiers found\n");
  for (int position = 0; position < count; ++position) {
    fmDLLSelectDeviceIndex(position);
    if (position > 0) std::printf("\n");
    PrintSelectedAmplifier(position);
  }
  return 0;
}

}  // namespace torvactl
