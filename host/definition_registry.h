#pragma once
// The host's definition registry: takes a plugin's declarations, keeps a log of every call in
// order (arguments included, values as their byte forms, and the refusal if there was one), and
// builds a device definition from each DeclareDevice .. FinishDeclaration sequence.
//
// Order of calls: DeclareDevice opens a definition; parameters, outputs and sync inputs belong to
// the open one, components to its last output; FinishDeclaration closes it, after which only a new
// DeclareDevice is accepted. Refused: anything but DeclareDevice while no definition is open, a
// component before any output, a DeclareDevice while one is open, a second definition with the
// same maker, name and version, a parameter name used twice in one definition, and a value that
// cannot be copied (no value, unknown type code, or a CopyTo that fails). A refused call changes no
// definition.
//
// Threads: any; one lock guards the log and the definitions. Life cycle: finished definitions stay
// at their address until the registry goes, so the instantiator and the instances may keep
// pointers to them.

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/device_definition.h"
#include "host/host_call.h"
#include "host/host_values.h"
#include "plugin/frame/host_interface.h"

namespace torva::host {

// One call on the registry as the plugin made it.
struct Declaration {
  explicit Declaration(std::string callName, std::vector<std::string> textArguments = {},
                       std::vector<std::int64_t> numberArguments = {}, ValueBytes valueBytes = {},
                       std::string refusalText = {})
      : call(std::move(callName)),
        texts(std::move(textArguments)),
        numbers(std::move(numberArguments)),
        value(std::move(valueBytes)),
        refusal(std::move(refusalText)) {}

  std::string call;                   // the operation's name, e.g. "DeclareOutput"
  std::vector<std::string> texts;     // the text arguments in order (a null pointer as empty)
  std::vector<std::int64_t> numbers;  // the other arguments in order, flags as 0 or 1
  ValueBytes value;                   // the value's byte form (DeclareParameter)
  std::string refusal;                // the text handed back; empty when accepted

  bool operator==(const Declaration& other) const;
  bool operator!=(const Declaration& other) const { return !(*this == other); }
};
std::ostream& operator<<(std::ostream& out, const Declaration& declaration);

class DefinitionRegistry final : public SabloDigitalDevice::IDefinitionRegistry {
 public:
  DefinitionRegistry() = default;
  DefinitionRegistry(const DefinitionRegistry&) = delete;
  DefinitionRegistry& operator=(const DefinitionRegistry&) = delete;
  ~DefinitionRegistry() = default;

  void DeclareDevice(SabloDigitalDevice::HostResult** result, const char* maker, const char* model,
                     const char* version, const char* description, const char* kind,
                     const char* text1, const char* text2) override;
  void DeclareParameter(SabloDigitalDevice::HostResult** result, const char* name,
                        const char* displayName, const char* description, const char* group,
                        bool declare, SabloDigitalDevice::IParameterValue* value,
                        std::uint32_t idLow, std::uint32_t idHigh) override;
  void DeclareSyncInput(SabloDigitalDevice::HostResult** result, const char* name) override;
  void DeclareOutput(SabloDigitalDevice::HostResult** result, const char* name, int code) override;
  void DeclareOutputComponent(SabloDigitalDevice::HostResult** result, const char* name) override;
  void Reserved5() override;
  void FinishDeclaration(SabloDigitalDevice::HostResult** result) override;

  // Every call so far, in order.
  std::vector<Declaration> Log() const;
  // Finished definitions, in the order they were finished.
  std::vector<const DeviceDefinition*> Definitions() const;
  // The finished definition with this maker, name and version, or null.
  const DeviceDefinition* Find(const std::string& maker, const std::string& name,
                               const std::string& version) const;

 private:
  // Runs apply under the lock and logs the declaration with apply's refusal.
  template <class Apply>
  Refusal Commit(Declaration declaration, Apply&& apply);
  // Commit as the answer to a call.
  template <class Apply>
  void Answer(SabloDigitalDevice::HostResult** result, Declaration declaration, Apply&& apply);

  // Each takes the lock held.
  Refusal OpenDefinition(std::unique_ptr<DeviceDefinition> definition);
  Refusal AddParameter(ParameterDefinition parameter, const Refusal& valueRefusal);
  Refusal AddSyncInput(const std::string& name);
  Refusal AddOutput(const std::string& name, int code);
  Refusal AddComponent(const std::string& name);
  Refusal CloseDefinition();
  // Why `call` finds no open definition.
  std::string NoOpenDefinition(const std::string& call) const;
  const DeviceDefinition* FindLocked(const std::string& maker, const std::string& name,
                                     const std::string& version) const;

  mutable std::mutex mutex_;
  std::vector<Declaration> log_;
  std::vector<std::unique_ptr<DeviceDefinition>> finished_;
  std::unique_ptr<DeviceDefinition> open_;  // null while no definition is being declared
  bool anyDeviceDeclared_ = false;          // a DeclareDevice has been made, accepted or not
  bool lastDeviceRefused_ = false;          // the last DeclareDevice was refused
};

}  // namespace torva::host
