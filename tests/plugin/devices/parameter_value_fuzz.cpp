// libFuzzer target: any bytes assigned to each value class. An assignment never crashes, never
// reads out of bounds and never allocates more than the input can describe; a form that is taken
// writes itself back unchanged, and the value equals its own copy.
//   Build with clang: cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DTORVA_BUILD_FUZZ=ON
//   cmake --build build-fuzz --target parameter_value_fuzz
//   build-fuzz/bin/parameter_value_fuzz -max_total_time=180 -rss_limit_mb=512

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "plugin/devices/parameter_value.h"

using namespace SabloDigitalDevice;

namespace {

template <class Value>
void Check(const std::uint8_t* data, std::size_t size) {
  Value value;
  if (!value.AssignFromBytes(data, static_cast<std::uint32_t>(size))) return;
  Value copy;
  if (!value.CopyTo(copy)) std::abort();
  if (!value.Equals(copy) || !copy.Equals(value)) {
    // A double holding NaN never equals anything, itself included.
    if (value.GetType() != ParameterTypeCode::kDouble) std::abort();
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
