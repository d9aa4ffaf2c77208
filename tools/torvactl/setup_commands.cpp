// Commands around the saved setup and smart plates.
//   torvactl setup-check            the setup check's status and message
//   torvactl save-config [--force]  saves the amplifiers in their current order; with no
//                                   amplifiers found it keeps a saved setup that lists some
//                                   unless --force is given
//   torvactl download-cal <position>  downloads a plate's calibration file, showing progress

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/control/setup_file.h"
#include "platform/configuration_directory.h"
#include "tools/torvactl/command.h"
#include "tools/torvactl/command_line.h"
#include "tools/torvactl/library_session.h"

namespace torvactl {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);
constexpr auto kSetupCheckLimit = std::chrono::seconds(5);
constexpr auto kDownloadLimit = std::chrono::minutes(5);

const char* SetupStatusText(int status) {
  switch (status) {
    case 0: return "the setup check has not run";
    case 1: return "the amplifiers match the saved setup";
    case 211: return "no saved setup";
    case 213: return "the saved setup has another version";
    case 214: return "the amplifiers differ from the saved setup";
    case 216: return "no amplifiers";
    default: return "unknown status";
  }
}

const char* DownloadStatusText(int status) {
  switch (status) {
    case 0: return "running";
    case 1: return "complete";
    case 2: return "the calibration file cannot be loaded or is not for this plate";
    case 3: return "the plate rejected the file's version";
    case 4: return "the plate found the file's checksum wrong";
    default: return "the plate failed the download";
  }
}

const char* DownloadRefusalText(int result) {
  switch (result) {
    case 1: return "no amplifier is selected";
    case 2: return "the plate has no calibration memory (product type is not 300 or 400)";
    case 3: return "no calibration file: set the directory under SOFTWARE\\Torva\\HPS / Path and "
                   "name the file after the plate's serial number with .bcf";
    case 4: return "the calibration file is for another product type";
    default: return "the download was refused";
  }
}

// How many amplifiers the saved setup lists (its count as written, even when corrupt); 0 when
// there is none. The directory is the one the library located when it was initialised.
int SavedAmplifierCount() {
  const torva::platform::ConfigurationDirectory directory =
      torva::platform::LocateConfigurationDirectory();
  if (!directory.found) return 0;
  const std::optional<torva::SavedSetup> saved =
      torva::ReadSetupFile(directory.path + torva::kSetupFileName);
  return saved ? saved->count : 0;
}

}  // namespace

int RunSetupCheck(const std::vector<std::string>& arguments) {
  if (const auto status = ParseNoArguments("torvactl setup-check", arguments)) return *status;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  const auto deadline = std::chrono::steady_clock::now() + kSetupCheckLimit;
  while (fmDLLSetupCheck() == 0 && fmDLLGetDeviceCount() > 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(kPoll);
  const int status = fmDLLSetupCheck();
  std::printf("setup check: %d (%s)\n", status, SetupStatusText(status));
  char error[TORVA_ERROR_TEXT_BYTES] = {};
  if (fmDLLGetError(error) != 0) std::printf("error record:%s\n", error);
  return status == 1 ? 0 : 1;
}

int RunSaveConfig(const std::vector<std::string>& arguments) {
  bool force = false;
  boost::program_options::options_description description("torvactl save-config [--force]");
  description.add_options()("force", boost::program_options::bool_switch(&force),
                            "save even when no amplifier was found and the saved setup lists some");
  if (const auto status = ParseCommandLine(description, arguments)) return *status;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  // No amplifiers usually means a wrong environment (a mistyped TORVA_SIMULATE, an unplugged
  // hub), not a wish to forget the setup.
  if (fmDLLGetDeviceCount() == 0 && !force) {
    if (const int saved = SavedAmplifierCount(); saved != 0) {
      std::fprintf(stderr,
                   "torvactl: no amplifiers found; the saved setup lists %d and was kept (use "
                   "--force to replace it with an empty one)\n",
                   saved);
      return 1;
    }
  }
  if (fmDLLSaveConfiguration() != 1) {
    char error[TORVA_ERROR_TEXT_BYTES] = {};
    fmDLLGetError(error);
    std::fprintf(stderr, "torvactl: the setup was not saved:%s\n", error);
    return 1;
  }
  std::printf("saved %d amplifiers\n", fmDLLGetDeviceCount());
  return 0;
}

int RunDownloadCal(const std::vector<std::string>& arguments) {
  PositionArguments target;
  if (const auto status =
          ParsePositionArguments("torvactl download-cal <position>", arguments, 0, target))
    return *status;
  const int position = target.position;
  LibrarySession session;
  if (!session.Ready()) return ReportNotReady();
  if (position < 0 || position >= fmDLLGetDeviceCount()) {
    std::fprintf(stderr, "torvactl: no amplifier at position %d\n", position);
    return 1;
  }
  fmDLLSelectDeviceIndex(position);
  const int started = fmVantorDownloadCalFile(0);
  if (started != 0) {
    std::fprintf(stderr, "torvactl: %s\n", DownloadRefusalText(started));
    return 1;
  }
  const auto begin = std::chrono::steady_clock::now();
  int status = 0;
  while ((status = fmIsVantorDownloadComplete()) == 0) {
    if (std::chrono::steady_clock::now() - begin > kDownloadLimit) {
      std::fprintf(stderr, "\ntorvactl: the plate did not finish the download\n");
      return 1;
    }
    std::fprintf(stderr, "\rdownloading... %4.1f s",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    std::this_thread::sleep_for(kPoll);
  }
  std::fprintf(stderr, "\n");
  std::printf("download: %d (%s)\n", status, DownloadStatusText(status));
  return status == 1 ? 0 : 1;
}

}  // namespace torvactl
