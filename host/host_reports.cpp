#include "host/host_reports.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "host/exit_status.h"
#include "host/plate_detection.h"
#include "host/plugin_session.h"
#include "host/recording_frame_sink.h"
#include "plugin/devices/parameter_value.h"

namespace torva::host {

namespace {

namespace SDD = SabloDigitalDevice;

void Say(const std::string& text) { std::fprintf(stderr, "torva-host: %s\n", text.c_str()); }

std::unique_ptr<PluginLibrary> LoadPlugin(const CommonOptions& options) {
  std::string failure;
  auto library = PluginLibrary::Load(
      options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath, failure);
  if (!library) Say(failure);
  return library;
}

std::string KindName(std::int32_t typeCode) {
  switch (typeCode) {
    case SDD::ParameterTypeCode::kAction:
      return "action";
    case SDD::ParameterTypeCode::kBool:
      return "bool";
    case SDD::ParameterTypeCode::kDouble:
      return "double";
    case SDD::ParameterTypeCode::kString:
      return "string";
    case SDD::ParameterTypeCode::kEnum:
      return "enumeration";
    default:
      return "type " + std::to_string(typeCode);
  }
}

std::string TextSetting(DeviceHost& host, const char* name) {
  SDD::IParameterValueString value;
  return host.ReadByHost(name, value) ? "?" : value.GetValue();
}

std::string NumberSetting(DeviceHost& host, const char* name) {
  SDD::IParameterValueDouble value;
  if (host.ReadByHost(name, value)) return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%g", value.GetValue());
  return text;
}

void PrintInstance(DeviceInstance& instance) {
  const DeviceDefinition& definition = instance.Definition();
  DeviceHost& host = instance.Host();
  std::printf("%s\n  definition: %s\n", instance.Name().c_str(),
              DefinitionIdentity(definition.maker, definition.name, definition.version).c_str());
  if (!definition.FindParameter("Connected")) return;
  std::printf(
      "  amplifier: %s %s\n  platform: %s %s\n  firmware: %s\n",
      TextSetting(host, "AmplifierModel").c_str(), TextSetting(host, "AmplifierSerial").c_str(),
      TextSetting(host, "PlatformModel").c_str(), TextSetting(host, "PlatformSerial").c_str(),
      TextSetting(host, "FirmwareVersion").c_str());
  std::printf("  a: %s  b: %s  az0: %s\n  Connected: %s\n",
              NumberSetting(host, "ParameterA").c_str(), NumberSetting(host, "ParameterB").c_str(),
              NumberSetting(host, "ParameterAZ0").c_str(), IsConnected(instance) ? "yes" : "no");
}

void PrintDefinition(const DeviceDefinition& definition) {
  std::printf("%s [%s]\n  %s\n",
              DefinitionIdentity(definition.maker, definition.name, definition.version).c_str(),
              definition.category.c_str(), definition.description.c_str());
  for (const ParameterDefinition& parameter : definition.parameters) {
    std::printf("  parameter %s (%s, %s, group \"%s\"): \"%s\"\n", parameter.name.c_str(),
                parameter.displayName.c_str(),
                KindName(parameter.value ? parameter.value->GetType() : -1).c_str(),
                parameter.group.c_str(), parameter.description.c_str());
  }
  for (const OutputDefinition& output : definition.outputs) {
    std::string components;
    for (const std::string& component : output.components)
      components += (components.empty() ? "" : ", ") + component;
    std::printf("  output %s (code %d): %s\n", output.name.c_str(), output.code,
                components.c_str());
  }
  for (const std::string& input : definition.syncInputs)
    std::printf("  sync input %s\n", input.c_str());
}

}  // namespace

int RunDetect(const CommonOptions& options, HostLog& log) {
  auto library = LoadPlugin(options);
  if (!library) return kExitUsageOrLoading;
  RecordingFrameSink sink;
  PluginSession session(std::move(library), log, sink);
  if (!session.Start()) {
    Say("the plugin refused to initialise");
    return kExitUsageOrLoading;
  }
  constexpr double kMillisecondsPerSecond = 1000.0;
  const Detection detection = DetectPlates(
      session, std::chrono::milliseconds(
                   static_cast<long long>(options.detectTimeoutSeconds * kMillisecondsPerSecond)));
  if (detection.shared != nullptr) PrintInstance(*detection.shared);
  for (DeviceInstance* plate : detection.plates) PrintInstance(*plate);
  switch (detection.outcome) {
    case DetectionOutcome::kPlatesFound:
      return kExitSuccess;
    case DetectionOutcome::kNoPlates:
      Say("no plates detected");
      return kExitNoPlates;
    default:
      Say("the detection failed or did not end in time");
      return kExitDetectionFailed;
  }
}

int RunDefinitions(const CommonOptions& options, HostLog& log) {
  auto library = LoadPlugin(options);
  if (!library) return kExitUsageOrLoading;
  RecordingFrameSink sink;
  PluginSession session(std::move(library), log, sink);
  if (!session.Start()) {
    Say("the plugin refused to initialise");
    return kExitUsageOrLoading;
  }
  const auto definitions = session.Registry().Definitions();
  std::printf("%zu definitions\n", definitions.size());
  for (const DeviceDefinition* definition : definitions) PrintDefinition(*definition);
  return kExitSuccess;
}

}  // namespace torva::host
