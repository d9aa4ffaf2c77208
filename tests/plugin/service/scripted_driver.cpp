#include "tests/plugin/service/scripted_driver.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "driver/api/TorvaUSBDevice.h"

namespace torva::testing {

ScriptedDriver& ScriptedDriver::Instance() {
  static ScriptedDriver driver;
  return driver;
}

void ScriptedDriver::Reset(DriverScript newScript) {
  std::lock_guard<std::mutex> lock(mutex);
  script = std::move(newScript);
  calls.clear();
  polls = 0;
  selected = 0;
  statusPolls.clear();
}

std::vector<std::string> ScriptedDriver::Calls() const {
  std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(mutex));
  return calls;
}

int ScriptedDriver::Count(const std::string& call) const {
  const auto all = Calls();
  return static_cast<int>(std::count(all.begin(), all.end(), call));
}

}  // namespace torva::testing

namespace {

using torva::testing::ScriptedAmplifier;
using torva::testing::ScriptedDriver;

constexpr int kInitDone = 2;

struct Call {
  ScriptedDriver& driver = ScriptedDriver::Instance();
  std::lock_guard<std::mutex> lock{driver.mutex};
  explicit Call(const std::string& name) { driver.calls.push_back(name); }
  ScriptedAmplifier* Selected() {
    auto& amplifiers = driver.script.amplifiers;
    const int slot = driver.script.order.empty()
                         ? driver.selected
                         : (driver.selected >= 0 &&
                                    driver.selected < static_cast<int>(driver.script.order.size())
                                ? driver.script.order[static_cast<std::size_t>(driver.selected)]
                                : -1);
    if (slot < 0 || slot >= static_cast<int>(amplifiers.size())) return nullptr;
    return &amplifiers[static_cast<std::size_t>(slot)];
  }
};

void Write(char* out, const std::string& text) { std::strcpy(out, text.c_str()); }

}  // namespace

extern "C" {

int fmDLLInit(void) {
  Call call("fmDLLInit()");
  call.driver.polls = 0;
  return 1;
}
int fmDLLIsDeviceInitComplete(void) {
  Call call("fmDLLIsDeviceInitComplete()");
  const int before = call.driver.script.pollsBeforeInit;
  return before >= 0 && call.driver.polls++ >= before ? kInitDone : 0;
}
int fmDLLSetupCheck(void) { return Call("fmDLLSetupCheck()").driver.script.setupCode; }
void fmDLLSetUSBPacketSize(int size) { Call("fmDLLSetUSBPacketSize(" + std::to_string(size) + ")"); }
void fmBroadcastRunMode(int mode) { Call("fmBroadcastRunMode(" + std::to_string(mode) + ")"); }
void fmDLLSetDataFormat(int format) { Call("fmDLLSetDataFormat(" + std::to_string(format) + ")"); }
void fmDLLPostDataReadyMessages(int flag) {
  Call("fmDLLPostDataReadyMessages(" + std::to_string(flag) + ")");
}
void fmDLLPostUserThreadMessages(int thread) {
  Call("fmDLLPostUserThreadMessages(" + std::to_string(thread) + ")");
}
void fmBroadcastGenlock(int genlock) { Call("fmBroadcastGenlock(" + std::to_string(genlock) + ")"); }
void fmBroadcastResetSoftware(void) { Call("fmBroadcastResetSoftware()"); }
int fmDLLGetDeviceCount(void) {
  Call call("fmDLLGetDeviceCount()");
  const auto& script = call.driver.script;
  return script.deviceCount >= 0 ? script.deviceCount
                                 : static_cast<int>(script.amplifiers.size());
}
void fmDLLSelectDeviceIndex(int position) {
  Call call("fmDLLSelectDeviceIndex(" + std::to_string(position) + ")");
  call.driver.selected = position;
}
void fmGetAmplifierModelNumber(char* out) {
  Call call("fmGetAmplifierModelNumber()");
  if (auto* a = call.Selected()) Write(out, a->amplifierModel);
}
void fmGetAmplifierFirmwareVersion(char* out) {
  Call call("fmGetAmplifierFirmwareVersion()");
  if (auto* a = call.Selected()) Write(out, a->firmwareVersion);
}
void fmGetAmplifierSerialNumber(char* out) {
  Call call("fmGetAmplifierSerialNumber()");
  if (auto* a = call.Selected()) Write(out, a->amplifierSerial);
}
void fmGetPlatformModelNumber(char* out) {
  Call call("fmGetPlatformModelNumber()");
  if (auto* a = call.Selected()) Write(out, a->platformModel);
}
void fmGetPlatformSerialNumber(char* out) {
  Call call("fmGetPlatformSerialNumber()");
  if (auto* a = call.Selected()) Write(out, a->platformSerial);
}
int fmGetProductType(void) {
  Call call("fmGetProductType()");
  auto* a = call.Selected();
  return a ? a->productType : 0;
}
void fmGetPlatformXYZOffsets(float* values) {
  Call call("fmGetPlatformXYZOffsets()");
  if (auto* a = call.Selected()) std::memcpy(values, a->offsets, sizeof a->offsets);
}
void fmGetPlatformLengthAndWidth(char* length, char* width) {
  Call call("fmGetPlatformLengthAndWidth()");
  if (auto* a = call.Selected()) {
    Write(length, a->length);
    Write(width, a->width);
  }
}
void fmBroadcastStart(void) { Call("fmBroadcastStart()"); }
void fmBroadcastStop(void) { Call("fmBroadcastStop()"); }
void fmBroadcastZero(void) { Call("fmBroadcastZero()"); }
int fmBroadcastResetUSB(void) {
  Call("fmBroadcastResetUSB()");
  return 0;
}
void fmSetBlink(void) { Call("fmSetBlink()"); }
void fmBroadcastAcquisitionRate(int rate) {
  Call("fmBroadcastAcquisitionRate(" + std::to_string(rate) + ")");
}
int fmDLLTransferFloatData(float** /*frame*/) { return 0; }
int fmDLLGetError(char* /*text*/) { return 0; }
int fmDLLShutDown(void) {
  Call("fmDLLShutDown()");
  return 1;
}
int fmDLLGetPlatformOrder(int* order) {
  Call call("fmDLLGetPlatformOrder()");
  const auto& script = call.driver.script;
  const int count = static_cast<int>(script.amplifiers.size());
  for (int position = 0; position < count; ++position)
    order[position] = script.order.empty() ? position
                                           : script.order[static_cast<std::size_t>(position)];
  return count;
}
int fmBroadcastCheckVantor(int* slots) {
  Call call("fmBroadcastCheckVantor()");
  const auto& script = call.driver.script;
  // Writes the whole list, as the library may, however many it returns.
  for (std::size_t i = 0; i < script.notReady.size(); ++i) slots[i] = script.notReady[i];
  return script.notReadyCount >= 0 ? script.notReadyCount
                                   : static_cast<int>(script.notReady.size());
}
int fmVantorDownloadCalFile(int value) {
  Call call("fmVantorDownloadCalFile(" + std::to_string(value) + ")");
  auto* a = call.Selected();
  return a ? a->downloadStart : 1;
}
int fmIsVantorDownloadComplete(void) {
  Call call("fmIsVantorDownloadComplete()");
  auto* a = call.Selected();
  if (a == nullptr || a->downloadStatus.empty()) return 0;
  std::size_t& poll = call.driver.statusPolls[call.driver.selected];
  const std::size_t at = std::min(poll++, a->downloadStatus.size() - 1);
  return a->downloadStatus[at];
}

}  // extern "C"
