#pragma once
// A scripted stand-in for the driver library's calls that the plugin makes, linked in place of
// the library: a test sets the answers (initialisation complete after k polls, setup code, the
// amplifiers' texts, the not-ready list, the platform order, download results and status
// sequences) and reads back every call made, in order.

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace torva::testing {

struct ScriptedAmplifier {
  int productType = 100;
  std::string amplifierModel = "TA-6";
  std::string firmwareVersion = "3.2.14";
  std::string amplifierSerial = "TA0001";
  std::string platformModel = "TP4060";
  std::string platformSerial = "P0001";
  float offsets[3] = {0.5f, -0.25f, -1.5f};
  std::string length = "23.62";
  std::string width = "15.75";
  // fmVantorDownloadCalFile's answer, then fmIsVantorDownloadComplete's answers in turn (the last
  // one repeats).
  int downloadStart = 0;
  std::vector<int> downloadStatus = {1};
};

struct DriverScript {
  // fmDLLIsDeviceInitComplete answers 0 for this many polls, then kInitDone; negative: never.
  int pollsBeforeInit = 0;
  int setupCode = 1;
  int deviceCount = -1;  // negative: the number of amplifiers
  std::vector<ScriptedAmplifier> amplifiers;
  std::vector<int> notReady;  // slots fmBroadcastCheckVantor lists
  int notReadyCount = -1;     // what it returns; negative: the list's size
  std::vector<int> order;     // position -> slot; empty: identity
};

// The script in force and the log of calls ("fmDLLInit()", "fmDLLSelectDeviceIndex(1)", ...).
class ScriptedDriver {
 public:
  static ScriptedDriver& Instance();
  void Reset(DriverScript script);
  std::vector<std::string> Calls() const;
  int Count(const std::string& call) const;

  // For the fm functions.
  std::mutex mutex;
  DriverScript script;
  std::vector<std::string> calls;
  int polls = 0;
  int selected = 0;
  std::map<int, std::size_t> statusPolls;
};

}  // namespace torva::testing
