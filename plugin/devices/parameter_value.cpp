#include "plugin/devices/parameter_value.h"

#include <limits>
#include <utility>

#include "plugin/devices/value_bytes.h"
#include "plugin/frame/call_barrier.h"

namespace SabloDigitalDevice {

namespace {

// The value field of each value type, written and read through the byte helpers.
void WriteValueField(ValueByteWriter& writer, std::uint32_t value) { writer.WriteUInt32(value); }
void WriteValueField(ValueByteWriter& writer, bool value) { writer.WriteBool(value); }
void WriteValueField(ValueByteWriter& writer, double value) { writer.WriteDouble(value); }
void WriteValueField(ValueByteWriter& writer, const std::string& value) {
  writer.WriteString(value);
}

bool ReadValueField(ValueByteReader& reader, std::uint32_t& value) {
  return reader.ReadUInt32(value);
}
bool ReadValueField(ValueByteReader& reader, bool& value) { return reader.ReadBool(value); }
bool ReadValueField(ValueByteReader& reader, double& value) { return reader.ReadDouble(value); }
bool ReadValueField(ValueByteReader& reader, std::string& value) {
  return reader.ReadString(value);
}

// Each option takes at least its 4-byte length.
constexpr std::size_t kSmallestOptionBytes = 4;

// A value has no log: an operation that fails (out of memory, or a throw from another module's
// value) answers with its safe value and reports nothing.
template <typename Result, typename Call>
Result Guarded(Result fallback, Call&& call) noexcept {
  return Barrier(std::move(fallback), std::forward<Call>(call), Unreported);
}

template <typename Call>
void Guarded(Call&& call) noexcept {
  Barrier(std::forward<Call>(call), Unreported);
}

// Writes extra data through `write`; a writer that fails midway is left invalid, so that no
// incomplete byte form is ever handed over.
template <typename Write>
void WriteOrRefuse(ValueByteWriter& writer, Write&& write) noexcept {
  Barrier(std::forward<Write>(write), [&writer](const char*) noexcept { writer.RefuseField(); });
}

// Whether other's byte form assigns to a fresh Value of which `same` holds; false, too, when that
// cannot be found out.
template <class Value, class Same>
bool EqualsAs(const IParameterValue& other, Same&& same) noexcept {
  return Guarded(false, [&] {
    Value fresh;
    return other.CopyTo(fresh) && same(fresh);
  });
}

}  // namespace

// Defined here so that the interface's vtable is emitted once, in this library.
IParameterValue::~IParameterValue() = default;

template <class T>
bool IParameterValueTemplate<T>::CopyTo(IParameterValue& target) const {
  // Out of memory for the byte form: nothing is handed over.
  return Guarded(false, [&] {
    ValueByteWriter writer;
    writer.WriteInt32(typeCode_);
    WriteValueField(writer, value_);
    writer.WriteBool(attribute1_);
    writer.WriteBool(attribute2_);
    writer.WriteBool(attribute3_);
    WriteExtra(writer);
    if (!writer.Valid()) return false;
    const std::vector<std::uint8_t>& bytes = writer.Bytes();
    return target.AssignFromBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  });
}

template <class T>
bool IParameterValueTemplate<T>::AssignFromBytes(const std::uint8_t* data, std::uint32_t length) {
  if (data == nullptr || length == 0) return false;
  // Out of memory for the copy or for a text the bytes do hold: refused.
  return Guarded(false, [&] {
    // A private copy: the caller's buffer may change or go while this runs, or alias this object.
    const std::vector<std::uint8_t> copy(data, data + length);
    ValueByteReader reader(copy.data(), copy.size());
    std::int32_t typeCode = 0;
    if (!reader.ReadInt32(typeCode) || typeCode != typeCode_) return false;
    if (!ReadValueField(reader, value_)) return false;
    if (!reader.ReadBool(attribute1_)) return false;
    if (!reader.ReadBool(attribute2_)) return false;
    if (!reader.ReadBool(attribute3_)) return false;
    if (!ReadExtra(reader)) return false;
    return reader.Remaining() == 0;
  });
}

template <class T>
void IParameterValueTemplate<T>::SetValue(const T& value) {
  // A text that cannot be copied leaves the value as it was (assignment allocates before it
  // changes anything).
  Guarded([&] { value_ = value; });
}

template <class T>
T IParameterValueTemplate<T>::GetValue() const {
  return Guarded(T{}, [&] { return value_; });
}

template <class T>
void IParameterValueTemplate<T>::WriteExtra(ValueByteWriter& /*writer*/) const {}

template <class T>
bool IParameterValueTemplate<T>::ReadExtra(ValueByteReader& /*reader*/) {
  return true;
}

template <class T>
bool IParameterValueTemplate<T>::SameCommonFields(const IParameterValueTemplate& other) const {
  return typeCode_ == other.typeCode_ && value_ == other.value_ &&
         attribute1_ == other.attribute1_ && attribute2_ == other.attribute2_ &&
         attribute3_ == other.attribute3_;
}

template class IParameterValueTemplate<std::uint32_t>;
template class IParameterValueTemplate<bool>;
template class IParameterValueTemplate<double>;
template class IParameterValueTemplate<std::string>;

bool IParameterValueAction::Equals(const IParameterValue& other) const {
  return EqualsAs<IParameterValueAction>(
      other, [this](const IParameterValueAction& fresh) { return SameCommonFields(fresh); });
}

bool IParameterValueBool::Equals(const IParameterValue& other) const {
  return EqualsAs<IParameterValueBool>(
      other, [this](const IParameterValueBool& fresh) { return SameCommonFields(fresh); });
}

IParameterValueDouble::IParameterValueDouble()
    : IParameterValueTemplate(ParameterTypeCode::kDouble),
      minimum_(std::numeric_limits<double>::lowest()),
      maximum_(std::numeric_limits<double>::max()) {}

bool IParameterValueDouble::Equals(const IParameterValue& other) const {
  return EqualsAs<IParameterValueDouble>(other, [this](const IParameterValueDouble& fresh) {
    return SameCommonFields(fresh) && minimum_ == fresh.minimum_ && maximum_ == fresh.maximum_ &&
           rangeCheck_ == fresh.rangeCheck_;
  });
}

void IParameterValueDouble::WriteExtra(ValueByteWriter& writer) const {
  WriteOrRefuse(writer, [&] {
    writer.WriteDouble(minimum_);
    writer.WriteDouble(maximum_);
    writer.WriteBool(rangeCheck_);
  });
}

bool IParameterValueDouble::ReadExtra(ValueByteReader& reader) {
  return reader.ReadDouble(minimum_) && reader.ReadDouble(maximum_) &&
         reader.ReadBool(rangeCheck_);
}

bool IParameterValueString::Equals(const IParameterValue& other) const {
  return EqualsAs<IParameterValueString>(
      other, [this](const IParameterValueString& fresh) { return SameCommonFields(fresh); });
}

bool IParameterValueEnum::Equals(const IParameterValue& other) const {
  return EqualsAs<IParameterValueEnum>(other, [this](const IParameterValueEnum& fresh) {
    return SameCommonFields(fresh) && options_ == fresh.options_;
  });
}

void IParameterValueEnum::WriteExtra(ValueByteWriter& writer) const {
  WriteOrRefuse(writer, [&] {
    writer.WriteCount(options_.size());
    for (const std::string& option : options_) writer.WriteString(option);
  });
}

bool IParameterValueEnum::ReadExtra(ValueByteReader& reader) {
  // Out of memory for the options: refused.
  return Guarded(false, [&] {
    std::uint32_t count = 0;
    if (!reader.ReadUInt32(count)) return false;
    // A count the remaining bytes cannot hold is refused before any option is made for it.
    if (count > reader.Remaining() / kSmallestOptionBytes) return false;
    options_.resize(count);
    for (std::string& option : options_) {
      if (!reader.ReadString(option)) return false;
    }
    return true;
  });
}

void IParameterValueEnum::SetOptions(const std::vector<std::string>& options) {
  // Copied aside first: options that cannot all be copied leave the old ones in place.
  Guarded([&] {
    std::vector<std::string> copy(options);
    options_.swap(copy);
  });
}

}  // namespace SabloDigitalDevice
