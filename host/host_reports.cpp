#include "host/host_reports.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "host/command_start.h"
#include "host/exit_status.h"
#include "host/output_file.h"
#include "host/plate_detection.h"
#include "host/plate_placement.h"
#include "host/plugin_session.h"
#include "host/recording_frame_sink.h"
#include "plugin/devices/parameter_value.h"

namespace torva::host {

namespace {

namespace SDD = SabloDigitalDevice;

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
  return host.ReadByHost(name, value) ? "?" : NumberText(value.GetValue());
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

int RunDetect(const DetectOptions& options, HostLog& log) {
  std::optional<analysis::LabLayout> layout;
  if (!ReadLayoutOption(options.layoutPath, layout)) return kExitUsageOrLoading;
  std::string error;
  std::unique_ptr<OutputFile> layoutFile;
  if (!options.writeLayoutPath.empty()) {
    layoutFile = OutputFile::Open(options.writeLayoutPath, error);
    if (!layoutFile) {
      Say(error);
      return kExitUsageOrLoading;
    }
  }
  RecordingFrameSink sink;
  const std::unique_ptr<PluginSession> session = StartSession(options.common, log, sink);
  if (!session) return kExitUsageOrLoading;
  const Detection detection =
      DetectPlates(*session, Milliseconds(options.common.detectTimeoutSeconds));
  if (detection.shared != nullptr) PrintInstance(*detection.shared);
  for (DeviceInstance* plate : detection.plates) PrintInstance(*plate);
  const int status = DetectionStatus(detection, options.common.detectTimeoutSeconds);
  if (status != kExitSuccess || !layoutFile) return status;
  const PlatesInLab lab = PlacePlates(layout, detection.plates);
  layoutFile->Stream() << analysis::LayoutText(lab.names, lab.placements);
  if (!layoutFile->Keep()) {
    Say(*layoutFile->Failure());
    return kExitOutputFailed;
  }
  return status;
}

int RunDefinitions(const CommonOptions& options, HostLog& log) {
  RecordingFrameSink sink;
  const std::unique_ptr<PluginSession> session = StartSession(options, log, sink);
  if (!session) return kExitUsageOrLoading;
  const auto definitions = session->Registry().Definitions();
  std::printf("%zu definitions\n", definitions.size());
  for (const DeviceDefinition* definition : definitions) PrintDefinition(*definition);
  return kExitSuccess;
}

}  // namespace torva::host
