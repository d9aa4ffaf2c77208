// Parameter values: the byte form each class writes and reads, malformed input, and equality.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "allocation_probe.h"
#include "plugin/devices/parameter_value.h"
#include "raw_byte_value.h"

namespace SabloDigitalDevice {
namespace {

using ValueMaker = std::function<std::unique_ptr<IParameterValue>()>;

template <class Value>
std::unique_ptr<IParameterValue> Fresh() {
  return std::make_unique<Value>();
}

template <class Value>
ValueMaker Built(std::function<void(Value&)> set) {
  return [set]() -> std::unique_ptr<IParameterValue> {
    auto value = std::make_unique<Value>();
    set(*value);
    return value;
  };
}

bool Assign(IParameterValue& value, const Bytes& bytes) {
  return value.AssignFromBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

struct ByteFormRow {
  const char* label;
  ValueMaker make;   // the value, built through its setters
  ValueMaker fresh;  // a new value of its class
  Bytes bytes;       // its byte form
};

std::vector<ByteFormRow> ByteFormRows() {
  using Action = IParameterValueAction;
  using Bool = IParameterValueBool;
  using Double = IParameterValueDouble;
  using Enum = IParameterValueEnum;
  return {
      {"action", Built<Action>([](auto& v) {
         v.SetValue(0x12345678U); v.SetAttribute1(true); v.SetAttribute3(true);
       }),
       Fresh<Action>, {0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 1, 0, 1}},
      {"new bool", Fresh<Bool>, Fresh<Bool>, {1, 0, 0, 0, 0, 0, 0, 0}},
      {"bool", Built<Bool>([](auto& v) { v.SetValue(true); v.SetAttribute2(true); }), Fresh<Bool>,
       {1, 0, 0, 0, 1, 0, 1, 0}},
      {"new double", Fresh<Double>, Fresh<Double>,
       {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x7F, 0}},
      {"double", Built<Double>([](auto& v) {
         v.SetValue(1.5); v.SetAttribute1(true); v.SetAttribute2(true);
         v.SetMinimum(-2.0); v.SetMaximum(50.0); v.SetRangeCheck(true);
       }),
       Fresh<Double>, {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0,
                       0xC0, 0, 0, 0, 0, 0, 0, 0x49, 0x40, 1}},
      {"string", Built<IParameterValueString>([](auto& v) {
         v.SetValue("ab"); v.SetAttribute3(true);
       }),
       Fresh<IParameterValueString>, {4, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0, 0, 1}},
      {"enumeration", Built<Enum>([](auto& v) {
         v.SetOptions({"Off", "On"}); v.SetValue("On"); v.SetAttribute1(true);
       }),
       Fresh<Enum>, {7, 0, 0, 0, 2, 0, 0, 0, 'O', 'n', 1, 0, 0, 2, 0, 0, 0,
                     3, 0, 0, 0, 'O', 'f', 'f', 2, 0, 0, 0, 'O', 'n'}},
      {"enumeration without options", Fresh<Enum>, Fresh<Enum>,
       {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"two empty options", Built<Enum>([](auto& v) { v.SetOptions({"", ""}); }), Fresh<Enum>,
       {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
}

TEST(ParameterValueBytes, EveryClassWritesItsByteFormAndReadsItBack) {
  for (const ByteFormRow& row : ByteFormRows()) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(ByteFormOf(*row.make()), row.bytes);
    const auto read = row.fresh();
    ASSERT_TRUE(Assign(*read, row.bytes));
    EXPECT_EQ(ByteFormOf(*read), row.bytes);
  }
}

TEST(ParameterValueBytes, RefusesNullEveryCutTrailingBytesAndOtherClasses) {
  const ValueMaker everyClass[] = {Fresh<IParameterValueAction>, Fresh<IParameterValueBool>,
                                   Fresh<IParameterValueDouble>, Fresh<IParameterValueString>,
                                   Fresh<IParameterValueEnum>};
  for (const ByteFormRow& row : ByteFormRows()) {
    SCOPED_TRACE(row.label);
    EXPECT_FALSE(row.fresh()->AssignFromBytes(nullptr, 8));
    for (auto end = row.bytes.begin(); end != row.bytes.end(); ++end) {
      EXPECT_FALSE(Assign(*row.fresh(), Bytes(row.bytes.begin(), end))) << end - row.bytes.begin();
    }
    EXPECT_FALSE(Assign(*row.fresh(), Join({row.bytes, {0}})));
    Bytes retyped = row.bytes;
    retyped[3] = 1;  // the own type code plus 2^24
    EXPECT_FALSE(Assign(*row.fresh(), retyped));
    for (std::uint8_t code = 0; code < 9; ++code) {
      if (code == row.bytes[0]) continue;
      retyped = row.bytes;
      retyped[0] = code;
      EXPECT_FALSE(Assign(*row.fresh(), retyped)) << "type code " << int{code};
    }
    for (const ValueMaker& other : everyClass) {
      const auto value = other();
      if (value->GetType() == row.fresh()->GetType()) continue;
      EXPECT_FALSE(Assign(*value, row.bytes)) << "into type " << value->GetType();
    }
  }
}

TEST(ParameterValueBytes, RefusesLengthsAndCountsBeyondTheBytesBeforeAllocating) {
  const struct {
    const char* label;
    ValueMaker fresh;
    Bytes bytes;
  } rows[] = {
      {"text length 0xFFFFFFFF", Fresh<IParameterValueString>,
       {4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 0, 0, 0}},
      {"text length one beyond", Fresh<IParameterValueString>,
       {4, 0, 0, 0, 6, 0, 0, 0, 'a', 'b', 0, 0, 0}},
      {"option count 0xFFFFFFFF", Fresh<IParameterValueEnum>,
       {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"three options in room for two", Fresh<IParameterValueEnum>,
       {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"option length 0xFFFFFFFF", Fresh<IParameterValueEnum>,
       {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'x'}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const auto value = row.fresh();
    const AllocationProbe probe;
    EXPECT_FALSE(Assign(*value, row.bytes));
    EXPECT_LT(probe.Largest(), 256U);
  }
}

TEST(ParameterValueBytes, NonzeroBoolBytesReadAsTrueAndAreWrittenAsOne) {
  IParameterValueBool flag;
  ASSERT_TRUE(Assign(flag, {1, 0, 0, 0, 0x02, 0x80, 0xFF, 0x07}));
  EXPECT_TRUE(flag.GetValue());
  EXPECT_TRUE(flag.GetAttribute1() && flag.GetAttribute2() && flag.GetAttribute3());
  EXPECT_EQ(ByteFormOf(flag), (Bytes{1, 0, 0, 0, 1, 1, 1, 1}));
}

TEST(ParameterValueBytes, AnAssignmentThatRunsOutInTheAttributesKeepsTheValueRead) {
  IParameterValueString text;
  text.SetValue("old");
  EXPECT_FALSE(Assign(text, {4, 0, 0, 0, 3, 0, 0, 0, 'n', 'e', 'w', 1}));
  EXPECT_EQ(text.GetValue(), "new");
  EXPECT_TRUE(text.GetAttribute1());
}

TEST(ParameterValueBytes, OperationsThatCannotAllocateAnswerSafelyInsteadOfThrowing) {
  constexpr std::size_t kLargestAllowed = 1 << 20;
  const std::string large(2 * kLargestAllowed, 'x');
  const std::vector<std::string> largeOptions{large};
  IParameterValueString text;
  text.SetValue(large);
  IParameterValueEnum choice;
  choice.SetValue("On");
  choice.SetOptions(largeOptions);
  RawByteValue received;
  const AllocationProbe probe(kLargestAllowed);
  EXPECT_EQ(text.GetValue(), "");  // the text cannot be copied out
  choice.SetValue(large);
  EXPECT_EQ(choice.GetValue(), "On");  // nor in
  // An option that does not fit leaves nothing of the byte form to hand over.
  EXPECT_FALSE(choice.CopyTo(received));
  EXPECT_TRUE(received.bytes.empty());
  choice.SetOptions({"Off"});
  choice.SetOptions(largeOptions);
  EXPECT_EQ(choice.GetOptions(), std::vector<std::string>{"Off"});
}

TEST(ParameterValueEquals, ComparesEveryFieldOfTheClass) {
  IParameterValueDouble threshold;
  threshold.SetValue(20.0);
  threshold.SetMinimum(0.0);
  threshold.SetMaximum(50.0);
  const std::function<void(IParameterValueDouble&)> changes[] = {
      [](auto& v) { v.SetValue(20.5); },        [](auto& v) { v.SetMinimum(-1.0); },
      [](auto& v) { v.SetMaximum(49.0); },      [](auto& v) { v.SetRangeCheck(true); },
      [](auto& v) { v.SetAttribute1(true); },   [](auto& v) { v.SetAttribute2(true); },
      [](auto& v) { v.SetAttribute3(true); }};
  EXPECT_TRUE(threshold.Equals(IParameterValueDouble(threshold)));
  for (std::size_t i = 0; i < std::size(changes); ++i) {
    IParameterValueDouble changed = threshold;
    changes[i](changed);
    EXPECT_FALSE(threshold.Equals(changed)) << "change " << i;
    EXPECT_FALSE(changed.Equals(threshold)) << "change " << i;
  }

  IParameterValueEnum rate;
  rate.SetOptions({"1000", "500"});
  rate.SetValue("1000");
  IParameterValueEnum reordered = rate;
  reordered.SetOptions({"500", "1000"});
  EXPECT_TRUE(rate.Equals(IParameterValueEnum(rate)));
  EXPECT_FALSE(rate.Equals(reordered));
}

TEST(ParameterValueEquals, ValuesOfOtherClassesAndMalformedFormsAreNeverEqual) {
  IParameterValueEnum choice;
  IParameterValueString text;
  choice.SetValue("1000");
  text.SetValue("1000");
  EXPECT_FALSE(choice.Equals(text));
  EXPECT_FALSE(text.Equals(choice));
  EXPECT_FALSE(IParameterValueBool().Equals(IParameterValueAction()));
  EXPECT_FALSE(IParameterValueBool().Equals(RawByteValue({1, 0, 0, 0, 0, 0, 0})));
}

}  // namespace
}  // namespace SabloDigitalDevice
