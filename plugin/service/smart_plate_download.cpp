#include "plugin/service/smart_plate_download.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "driver/api/TorvaUSBDevice.h"
#include "platform/sleep_clock.h"
#include "plugin/service/driver_text.h"
#include "plugin/service/plugin_log.h"

namespace Torva {

namespace platform = torva::platform;
namespace {

// The driver library serves at most this many amplifiers, and lists at most that many plates.
constexpr int kMaxAmplifiers = 25;
constexpr std::chrono::milliseconds kDownloadPollPause{500};

// fmVantorDownloadCalFile: started, and the refusals with messages of their own.
constexpr int kDownloadStarted = 0;
constexpr int kNotASmartPlatform = 1;
constexpr int kNotASmartPlate = 2;
constexpr int kNoCalibrationFile = 3;
// fmIsVantorDownloadComplete.
constexpr int kDownloadRunning = 0;
constexpr int kDownloadComplete = 1;
constexpr int kVersionRejected = 3;
constexpr int kCrcMismatch = 4;

// The position of `slot` in the platform order, or -1 when the order does not hold it.
int PositionOfSlot(int slot) {
  std::array<int, kMaxAmplifiers> order{};
  const int count = std::clamp(fmDLLGetPlatformOrder(order.data()), 0, kMaxAmplifiers);
  for (int position = 0; position < count; ++position)
    if (order[static_cast<std::size_t>(position)] == slot) return position;
  return -1;
}

// Downloads to the plate at `position`; true when the download completed.
bool Download(SabloDigitalDevice::IHostServices* services, int position) {
  fmDLLSelectDeviceIndex(position);
  const std::string serial = ReadDriverText(fmGetPlatformSerialNumber, kSerialFieldBytes);
  const int started = fmVantorDownloadCalFile(1);
  if (started != kDownloadStarted) {
    switch (started) {
      case kNoCalibrationFile:
        LogFormatted(services, kSeverityWarning, "Can't find Vantor BCF on the system for %s",
                     serial);
        break;
      case kNotASmartPlate:
        LogFormatted(services, kSeverityWarning,
                     "Signal conditioner %d thinks it's an Vantor but it isn't", position);
        break;
      case kNotASmartPlatform:
        LogFormatted(services, kSeverityWarning, "Platform %s is not an Vantor platform", serial);
        break;
      default:
        LogFormatted(services, kSeverityWarning,
                     "Unable to download Vantor BCF for unknown reasons");
        break;
    }
    return false;
  }
  LogFormatted(services, kSeverityTrace, "fmVantorDownloadCalFile() called for platform %s",
               serial);
  for (int poll = 0; poll < kDownloadPolls; ++poll) {
    const int status = fmIsVantorDownloadComplete();
    if (status == kDownloadRunning) {
      platform::PrescribedSleep(kDownloadPollPause);
      continue;
    }
    if (status == kDownloadComplete) {
      LogFormatted(services, kSeverityTrace, "Vantor download is complete");
      return true;
    }
    const char* pattern = status == kVersionRejected ? "Bad Vantor BCF version seen for %s"
                          : status == kCrcMismatch   ? "Bad CRC check on Vantor BCF download for %s"
                                                     : "Vantor BCF download failed for %s";
    LogFormatted(services, kSeverityWarning, pattern, serial);
    return false;
  }
  LogFormatted(services, kSeverityWarning, "Vantor BCF download timed out for %s", serial);
  return false;
}

}  // namespace

void DownloadSmartPlateCalibrations(SabloDigitalDevice::IHostServices* services) {
  // Room for every amplifier the driver can list, and never more read than that.
  std::array<int, kMaxAmplifiers> slots{};
  const int listed = std::min(fmBroadcastCheckVantor(slots.data()), kMaxAmplifiers);
  if (listed <= 0) return;
  LogFormatted(services, kSeverityWarning, "%d Vantors not ready - BCF download will be attempted",
               listed);
  for (int k = 0; k < listed; ++k) {
    // The driver lists slots; plates are selected, and named, by their position.
    const int slot = slots[static_cast<std::size_t>(k)];
    const int position = PositionOfSlot(slot);
    if (position < 0) {
      LogFormatted(services, kSeverityWarning, "Device %d may give bad results", slot);
      continue;
    }
    if (!Download(services, position))
      LogFormatted(services, kSeverityWarning, "Device %d may give bad results", position);
  }
}

}  // namespace Torva
