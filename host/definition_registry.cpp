#include "host/definition_registry.h"

#include <utility>

namespace torva::host {

namespace SDD = SabloDigitalDevice;

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Fills copy with the host's own value of declared's type, through declared's CopyTo, and bytes
// with declared's byte form (for the log; left empty when the value writes none).
Refusal CopyDeclaredValue(const std::string& parameterName, const SDD::IParameterValue* declared,
                          ValueBytes& bytes, std::unique_ptr<SDD::IParameterValue>& copy) {
  const std::string parameter = "parameter " + Quoted(parameterName);
  if (declared == nullptr) return parameter + " has no value";
  ReadValueBytes(*declared, bytes);
  const std::int32_t typeCode = declared->GetType();
  copy = MakeHostValue(typeCode);
  if (!copy) return parameter + " has a value of unknown type " + std::to_string(typeCode);
  if (!declared->CopyTo(*copy)) return "the value of " + parameter + " could not be copied";
  return std::nullopt;
}

void PrintTexts(std::ostream& out, const std::vector<std::string>& texts) {
  for (const std::string& text : texts) out << ' ' << Quoted(text);
}

}  // namespace

bool Declaration::operator==(const Declaration& other) const {
  return call == other.call && texts == other.texts && numbers == other.numbers &&
         value == other.value && refusal == other.refusal;
}

std::ostream& operator<<(std::ostream& out, const Declaration& declaration) {
  out << declaration.call << ':';
  PrintTexts(out, declaration.texts);
  for (const std::int64_t number : declaration.numbers) out << ' ' << number;
  if (!declaration.value.empty()) {
    out << " [";
    for (const std::uint8_t byte : declaration.value) out << ' ' << static_cast<unsigned>(byte);
    out << " ]";
  }
  if (!declaration.refusal.empty()) out << " refused: " << declaration.refusal;
  return out;
}

template <class Apply>
Refusal DefinitionRegistry::Commit(Declaration declaration, Apply&& apply) {
  std::lock_guard<std::mutex> lock(mutex_);
  Refusal refusal = apply();
  if (refusal) declaration.refusal = *refusal;
  log_.push_back(std::move(declaration));
  return refusal;
}

template <class Apply>
void DefinitionRegistry::Answer(SDD::HostResult** result, Declaration declaration, Apply&& apply) {
  AnswerCall(result, [&] { return Commit(std::move(declaration), apply); });
}

void DefinitionRegistry::DeclareDevice(SDD::HostResult** result, const char* maker,
                                       const char* model, const char* version,
                                       const char* description, const char* kind, const char* text1,
                                       const char* text2) {
  Declaration declaration{"DeclareDevice",
                          {TextOf(maker), TextOf(model), TextOf(version), TextOf(description),
                           TextOf(kind), TextOf(text1), TextOf(text2)}};
  auto definition = std::make_unique<DeviceDefinition>();
  definition->maker = TextOf(maker);
  definition->name = TextOf(model);
  definition->version = TextOf(version);
  definition->description = TextOf(description);
  definition->category = TextOf(kind);
  definition->text1 = TextOf(text1);
  definition->text2 = TextOf(text2);
  Answer(result, std::move(declaration), [&] { return OpenDefinition(std::move(definition)); });
}

void DefinitionRegistry::DeclareParameter(SDD::HostResult** result, const char* name,
                                          const char* displayName, const char* description,
                                          const char* group, bool declare,
                                          SDD::IParameterValue* value, std::uint32_t idLow,
                                          std::uint32_t idHigh) {
  Declaration declaration{"DeclareParameter",
                          {TextOf(name), TextOf(displayName), TextOf(description), TextOf(group)},
                          {declare ? 1 : 0, idLow, idHigh}};
  ParameterDefinition parameter;
  parameter.name = TextOf(name);
  parameter.displayName = TextOf(displayName);
  parameter.description = TextOf(description);
  parameter.group = TextOf(group);
  parameter.declare = declare;
  parameter.id = SDD::ParameterId{idLow, idHigh};
  AnswerCall(result, [&]() -> Refusal {
    // The plugin's value is read before the lock is taken: no plugin code runs under it.
    const Refusal valueRefusal =
        CopyDeclaredValue(parameter.name, value, declaration.value, parameter.value);
    return Commit(std::move(declaration),
                  [&] { return AddParameter(std::move(parameter), valueRefusal); });
  });
}

void DefinitionRegistry::DeclareSyncInput(SDD::HostResult** result, const char* name) {
  Answer(result, Declaration{"DeclareSyncInput", {TextOf(name)}},
         [&] { return AddSyncInput(TextOf(name)); });
}

void DefinitionRegistry::DeclareOutput(SDD::HostResult** result, const char* name, int code) {
  Answer(result, Declaration{"DeclareOutput", {TextOf(name)}, {code}},
         [&] { return AddOutput(TextOf(name), code); });
}

void DefinitionRegistry::DeclareOutputComponent(SDD::HostResult** result, const char* name) {
  Answer(result, Declaration{"DeclareOutputComponent", {TextOf(name)}},
         [&] { return AddComponent(TextOf(name)); });
}

void DefinitionRegistry::Reserved5() {
  // A plugin that calls the unused slot has the interface's order wrong: the log shows it.
  Answer(nullptr, Declaration{"Reserved5"}, [] { return Refusal{}; });
}

void DefinitionRegistry::FinishDeclaration(SDD::HostResult** result) {
  Answer(result, Declaration{"FinishDeclaration"}, [&] { return CloseDefinition(); });
}

Refusal DefinitionRegistry::OpenDefinition(std::unique_ptr<DeviceDefinition> definition) {
  anyDeviceDeclared_ = true;
  lastDeviceRefused_ = true;
  if (open_) {
    return "DeclareDevice while " + DefinitionIdentity(open_->maker, open_->name, open_->version) +
           " is not finished";
  }
  if (FindLocked(definition->maker, definition->name, definition->version) != nullptr) {
    return "device " +
           DefinitionIdentity(definition->maker, definition->name, definition->version) +
           " is already declared";
  }
  open_ = std::move(definition);
  lastDeviceRefused_ = false;
  return std::nullopt;
}

Refusal DefinitionRegistry::AddParameter(ParameterDefinition parameter,
                                         const Refusal& valueRefusal) {
  if (!open_) return NoOpenDefinition("DeclareParameter");
  if (open_->FindParameter(parameter.name) != nullptr) {
    return "parameter " + Quoted(parameter.name) + " is already declared";
  }
  if (valueRefusal) return valueRefusal;
  open_->parameters.push_back(std::move(parameter));
  return std::nullopt;
}

Refusal DefinitionRegistry::AddSyncInput(const std::string& name) {
  if (!open_) return NoOpenDefinition("DeclareSyncInput");
  open_->syncInputs.push_back(name);
  return std::nullopt;
}

Refusal DefinitionRegistry::AddOutput(const std::string& name, int code) {
  if (!open_) return NoOpenDefinition("DeclareOutput");
  open_->outputs.push_back(OutputDefinition{name, code, {}});
  return std::nullopt;
}

Refusal DefinitionRegistry::AddComponent(const std::string& name) {
  if (!open_) return NoOpenDefinition("DeclareOutputComponent");
  if (open_->outputs.empty()) return std::string("DeclareOutputComponent before any DeclareOutput");
  open_->outputs.back().components.push_back(name);
  return std::nullopt;
}

Refusal DefinitionRegistry::CloseDefinition() {
  if (!open_) return NoOpenDefinition("FinishDeclaration");
  finished_.push_back(std::move(open_));
  return std::nullopt;
}

std::string DefinitionRegistry::NoOpenDefinition(const std::string& call) const {
  if (!anyDeviceDeclared_) return call + " before any DeclareDevice";
  if (lastDeviceRefused_) return call + " for a device that was refused";
  return call + " after FinishDeclaration";
}

std::vector<Declaration> DefinitionRegistry::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<const DeviceDefinition*> DefinitionRegistry::Definitions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<const DeviceDefinition*> definitions;
  for (const auto& definition : finished_) definitions.push_back(definition.get());
  return definitions;
}

const DeviceDefinition* DefinitionRegistry::Find(const std::string& maker, const std::string& name,
                                                 const std::string& version) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindLocked(maker, name, version);
}

const DeviceDefinition* DefinitionRegistry::FindLocked(const std::string& maker,
                                                       const std::string& name,
                                                       const std::string& version) const {
  for (const auto& definition : finished_) {
    if (definition->maker == maker && definition->name == name && definition->version == version) {
      return definition.get();
    }
  }
  return nullptr;
}

}  // namespace torva::host
