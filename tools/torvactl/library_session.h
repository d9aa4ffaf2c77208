#pragma once
// Initialises the driver library for the length of one command and shuts it down again, however
// the command ends.

#include <chrono>

namespace torvactl {

class LibrarySession {
 public:
  // Calls fmDLLInit and waits (up to `limit`) for the bring-up to finish; names on standard
  // error an amplifier the bring-up left out because another program holds it.
  explicit LibrarySession(std::chrono::milliseconds limit = std::chrono::seconds(10));
  ~LibrarySession();
  LibrarySession(const LibrarySession&) = delete;
  LibrarySession& operator=(const LibrarySession&) = delete;

  // False when fmDLLInit failed or the bring-up did not finish in time.
  bool Ready() const { return ready_; }
  // The device-init state the bring-up ended with (0 when it did not finish).
  int InitState() const { return initState_; }

 private:
  bool initialised_ = false;
  bool ready_ = false;
  int initState_ = 0;
};

// Tells the user that the bring-up did not finish; returns the exit status for that case.
int ReportNotReady();

}  // namespace torvactl
