#include "fake_plugin.h"

#include <memory>

namespace torva::host::test {

namespace {

// Keeps the text of a non-null result and releases it.
void Keep(std::vector<std::string>& refusals, SDD::HostResult*& result) {
  if (result != nullptr) refusals.push_back(result->Text());
  SDD::ReleaseResult(result);
}

}  // namespace

std::string TakeResult(SDD::HostResult*& result) {
  std::string text = result != nullptr ? result->Text() : "";
  SDD::ReleaseResult(result);
  return text;
}

void FakePlateDefinition::Declare(SDD::IDefinitionRegistry* registry, bool includeBlink) {
  SDD::HostResult* result = nullptr;
  registry->DeclareDevice(&result, "Torva", "TypeA", "V1.0",
                          "This device represents an Torva force plate/signal conditioner pair",
                          "ForcePlate", "", "");
  Keep(refusals, result);

  SDD::IParameterValueBool connected;
  connected.SetAttribute1(true);
  connected.SetAttribute2(true);
  registry->DeclareParameter(&result, "Connected", "Connected",
                             "Indicates whether the device is connected", "Status", false,
                             &connected, 0, 0);
  Keep(refusals, result);

  registry->DeclareOutput(&result, "Force", 13);
  Keep(refusals, result);
  for (const char* component : {"Fx", "Fy", "Fz"}) {
    registry->DeclareOutputComponent(&result, component);
    Keep(refusals, result);
  }
  registry->DeclareOutput(&result, "CoP", 1);
  Keep(refusals, result);
  for (const char* component : {"Cx", "Cy", "Cz"}) {
    registry->DeclareOutputComponent(&result, component);
    Keep(refusals, result);
  }

  SDD::IParameterValueDouble dimension;
  dimension.SetValue(0.4);
  dimension.SetAttribute1(true);
  dimension.SetAttribute2(true);
  registry->DeclareParameter(&result, "StandardDimension_X", "X",
                             "Length of force plate in the X Axis (meters)", "Dimensions", true,
                             &dimension, 6, 0);
  Keep(refusals, result);

  SDD::IParameterValueDouble originA;
  originA.SetAttribute1(true);
  originA.SetAttribute2(true);
  registry->DeclareParameter(&result, "ParameterA", "a",
                             "X displacement from sensor origin to force plate origin.", "Origin",
                             true, &originA, 6, 0);
  Keep(refusals, result);

  SDD::IParameterValueString serial;
  serial.SetAttribute1(true);
  serial.SetAttribute2(true);
  registry->DeclareParameter(&result, "AmplifierSerial", "Amplifier Serial", "Amplifier Serial",
                             "Amplifier", true, &serial, 2, 0);
  Keep(refusals, result);

  if (includeBlink) {
    SDD::IParameterValueAction blink;
    registry->DeclareParameter(
        &result, "BlinkAction", "Blink",
        "Make the selected signal conditioner blink. The amber light will blink for ten seconds. ",
        "Amplifier", true, &blink, 5, 0);
    Keep(refusals, result);
  }

  registry->DeclareSyncInput(&result, "Sync Port");
  Keep(refusals, result);
  registry->FinishDeclaration(&result);
  Keep(refusals, result);
}

void FakeSharedConfigDefinition::Declare(SDD::IDefinitionRegistry* registry,
                                         bool /*includeBlink*/) {
  SDD::HostResult* result = nullptr;
  registry->DeclareDevice(&result, "Torva", "Digital device common settings", "V1.0",
                          "This is a placeholder device controlling settings       common to all "
                          "Torva devices",
                          "Shared Configuration", "Add Torva Helix/Vantor devices - BETA+9dbg", "");
  Keep(refusals, result);

  SDD::IParameterValueEnum syncMode;
  syncMode.SetOptions({"Software trigger", "Hardware trigger"});
  syncMode.SetValue("Software trigger");
  registry->DeclareParameter(&result, "SyncMode", "Synchronization mode", "Synchronization mode",
                             "Device collection", true, &syncMode, 3, 0);
  Keep(refusals, result);

  SDD::IParameterValueDouble threshold;
  threshold.SetValue(20.0);
  threshold.SetMinimum(0.0);
  threshold.SetMaximum(50.0);
  threshold.SetRangeCheck(true);
  registry->DeclareParameter(&result, "DataThreshold", "Fz Threshold",
                             "Fz limit below which data are not collected.", "Device collection",
                             true, &threshold, 5, 0);
  Keep(refusals, result);

  SDD::IParameterValueAction resetUsb;
  resetUsb.SetAttribute3(true);
  registry->DeclareParameter(
      &result, "BroadcastResetUSB", "Reset USB",
      "This function resets the USB pipes from the PC to the signal conditioner for all connect "
      "signal conditioners.     Its only current use is resetting the data collection after a two "
      "second  data collection pause caused by an extended Genlock timeout.",
      "Device collection", true, &resetUsb, 0, 0);
  Keep(refusals, result);

  registry->FinishDeclaration(&result);
  Keep(refusals, result);
}

void FakeDevice::Attach(SDD::IDeviceHost* deviceHost) {
  host = deviceHost;
  ++attachCount;
  attachThread = std::this_thread::get_id();
  if (onAttach) onAttach(*deviceHost);
}

void FakeDevice::OnParametersChanged() {
  const std::uint32_t reported = host->ChangedParameterCount();
  const auto ids = std::make_unique<SDD::ParameterId[]>(reported);
  std::uint32_t count = 0;
  SDD::HostResult* result = nullptr;
  host->GetChangedParameters(&result, &changeKey, ids.get(), &count);
  SDD::ReleaseResult(result);
  changedIds.insert(changedIds.end(), ids.get(), ids.get() + count);
}

bool FakeDevice::PrepareCapture(SDD::CaptureHandle handle, SDD::ICaptureSetup* setup) {
  keptSetup = setup;
  return onPrepare ? onPrepare(handle, *setup) : false;
}

void FakeDevice::GetStatus(std::int32_t* stateOut, bool* needsPrepareOut) {
  *stateOut = state;
  *needsPrepareOut = needsPrepare;
}

}  // namespace torva::host::test
