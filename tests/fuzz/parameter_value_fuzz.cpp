// libFuzzer target: any bytes assigned to each value class. An assignment never crashes, never
// reads out of bounds and never allocates more than the input can describe. A form that is taken
// is written back at the same length (booleans written as 0 or 1); that written form is taken
// again and writes itself back byte for byte; and the value equals its own copy.
//   scripts/fuzz.sh parameter_value_fuzz 180

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plugin/devices/parameter_value.h"
#include "tests/fuzz/fuzz_support.h"

using namespace SabloDigitalDevice;

namespace {

// A target that keeps the byte form a value hands it and takes every form.
class FormRecorder final : public IParameterValue {
 public:
  std::int32_t GetType() const override { return 0; }
  bool CopyTo(IParameterValue& /*target*/) const override { return false; }
  bool AssignFromBytes(const std::uint8_t* data, std::uint32_t length) override {
    form.assign(data, data + length);
    return true;
  }
  void SetAttribute1(bool /*set*/) override {}
  bool GetAttribute1() const override { return false; }
  void SetAttribute2(bool /*set*/) override {}
  bool GetAttribute2() const override { return false; }
  void SetAttribute3(bool /*set*/) override {}
  bool GetAttribute3() const override { return false; }
  bool Equals(const IParameterValue& /*other*/) const override { return false; }

  std::vector<std::uint8_t> form;
};

template <class Value>
void Check(const std::uint8_t* data, std::size_t size) {
  Value value;
  if (!value.AssignFromBytes(data, static_cast<std::uint32_t>(size))) return;

  FormRecorder written;
  FUZZ_CHECK(value.CopyTo(written), "a taken value writes its form");
  FUZZ_CHECK(written.form.size() == size, "the form written back has the length taken");
  Value again;
  FUZZ_CHECK(again.AssignFromBytes(written.form.data(), static_cast<std::uint32_t>(written.form.size())),
             "the written form is taken");
  FormRecorder rewritten;
  FUZZ_CHECK(again.CopyTo(rewritten) && rewritten.form == written.form,
             "the written form writes itself back byte for byte");

  Value copy;
  FUZZ_CHECK(value.CopyTo(copy), "a taken value copies");
  if (!value.Equals(copy) || !copy.Equals(value)) {
    // A double holding NaN never equals anything, itself included.
    FUZZ_CHECK(value.GetType() == ParameterTypeCode::kDouble, "a value equals its copy");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check<IParameterValueAction>(data, size);
  Check<IParameterValueBool>(data, size);
  Check<IParameterValueDouble>(data, size);
  Check<IParameterValueString>(data, size);
  Check<IParameterValueEnum>(data, size);
  return 0;
}
