#include "tools/torvactl/library_session.h"

#include <cstdio>
#include <thread>

#include "driver/api/TorvaUSBDevice.h"
#include "driver/api/error_record_text.h"

namespace torvactl {
namespace {

constexpr std::chrono::milliseconds kPollInterval{10};

// Polls `done` until it is true or the limit passes.
template <typename Predicate>
bool PollUntil(Predicate done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

}  // namespace

LibrarySession::LibrarySession(std::chrono::milliseconds limit) {
  initialised_ = fmDLLInit() == 1;
  if (!initialised_) return;
  ready_ = PollUntil([this] { return (initState_ = fmDLLIsDeviceInitComplete()) != 0; }, limit);
  // The bring-up leaves out an amplifier that another program records with; say so, since the
  // command then sees fewer amplifiers (or none).
  if (const auto serial = torva::api::InUseAmplifierSerial(torva::api::CurrentErrorRecord())) {
    std::fprintf(stderr, "torvactl: amplifier %s is in use by another program and was left out\n",
                 serial->c_str());
  }
}

LibrarySession::~LibrarySession() {
  if (!initialised_) return;
  fmDLLShutDown();
  PollUntil([] { return fmIsDLLShutDown() == 1; }, std::chrono::seconds(10));
}

int ReportNotReady() {
  std::fprintf(stderr, "torvactl: the library did not finish bringing the amplifiers up\n");
  return 1;
}

}  // namespace torvactl
