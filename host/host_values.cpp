#include "host/host_values.h"

#include <exception>

namespace torva::host {

namespace SDD = SabloDigitalDevice;

namespace {

// A value of no class that keeps whatever byte form is assigned to it: the target through which a
// value's CopyTo hands over its bytes.
class ByteFormCapture final : public SDD::IParameterValue {
 public:
  explicit ByteFormCapture(ValueBytes& bytes) : bytes_(bytes) {}

  std::int32_t GetType() const override { return kNoTypeCode; }
  bool CopyTo(SDD::IParameterValue& target) const override {
    return target.AssignFromBytes(bytes_.data(), static_cast<std::uint32_t>(bytes_.size()));
  }
  bool AssignFromBytes(const std::uint8_t* data, std::uint32_t length) override {
    if (data == nullptr && length != 0) return false;
    try {
      bytes_.assign(data, data + length);
    } catch (const std::exception&) {
      return false;
    }
    return true;
  }
  void SetAttribute1(bool /*set*/) override {}
  bool GetAttribute1() const override { return false; }
  void SetAttribute2(bool /*set*/) override {}
  bool GetAttribute2() const override { return false; }
  void SetAttribute3(bool /*set*/) override {}
  bool GetAttribute3() const override { return false; }
  bool Equals(const SDD::IParameterValue& /*other*/) const override { return false; }

 private:
  // No value class uses a negative type code.
  static constexpr std::int32_t kNoTypeCode = -1;

  ValueBytes& bytes_;
};

}  // namespace

std::unique_ptr<SDD::IParameterValue> MakeHostValue(std::int32_t typeCode) {
  switch (typeCode) {
    case SDD::ParameterTypeCode::kAction:
      return std::make_unique<SDD::IParameterValueAction>();
    case SDD::ParameterTypeCode::kBool:
      return std::make_unique<SDD::IParameterValueBool>();
    case SDD::ParameterTypeCode::kDouble:
      return std::make_unique<SDD::IParameterValueDouble>();
    case SDD::ParameterTypeCode::kString:
      return std::make_unique<SDD::IParameterValueString>();
    case SDD::ParameterTypeCode::kEnum:
      return std::make_unique<SDD::IParameterValueEnum>();
    default:
      return nullptr;
  }
}

bool ReadValueBytes(const SDD::IParameterValue& value, ValueBytes& bytes) {
  ValueBytes captured;
  ByteFormCapture capture(captured);
  if (!value.CopyTo(capture)) return false;
  bytes = std::move(captured);
  return true;
}

}  // namespace torva::host
