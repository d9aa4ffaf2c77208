#pragma once
// A parameter value that claims any type code and hands over fixed bytes, or refuses to copy: a
// plugin value the host cannot take.

#include <cstdint>
#include <utility>

#include "plugin/devices/parameter_value.h"
#include "test_bytes.h"

namespace torva::host::test {

class ScriptedValue final : public SabloDigitalDevice::IParameterValue {
 public:
  ScriptedValue(std::int32_t typeCode, Bytes bytes, bool copies)
      : typeCode_(typeCode), bytes_(std::move(bytes)), copies_(copies) {}

  std::int32_t GetType() const override { return typeCode_; }
  bool CopyTo(SabloDigitalDevice::IParameterValue& target) const override {
    return copies_ &&
           target.AssignFromBytes(bytes_.data(), static_cast<std::uint32_t>(bytes_.size()));
  }
  bool AssignFromBytes(const std::uint8_t* /*data*/, std::uint32_t /*length*/) override {
    return false;
  }
  void SetAttribute1(bool /*set*/) override {}
  bool GetAttribute1() const override { return false; }
  void SetAttribute2(bool /*set*/) override {}
  bool GetAttribute2() const override { return false; }
  void SetAttribute3(bool /*set*/) override {}
  bool GetAttribute3() const override { return false; }
  bool Equals(const SabloDigitalDevice::IParameterValue& /*other*/) const override { return false; }

 private:
  std::int32_t typeCode_;
  Bytes bytes_;
  bool copies_;
};

}  // namespace torva::host::test
