#pragma once
// Parameter values: the objects through which the plugin declares parameters to the host and
// exchanges their settings with it.
//
// Plugin and host each build their own copy of these classes and never look into each other's
// objects: a value crosses only as its byte form (value_bytes.h), written by CopyTo and read by
// AssignFromBytes. The byte form of every value is
//   type code (int32), value, attribute 1, attribute 2, attribute 3 (one byte each), extra data
// where the value is a uint32 (action), one byte (bool), a double, or a string (4-byte length and
// its bytes), and the extra data is the double's minimum, maximum and range-check byte or the
// enumeration's option count and options (each a string).
//
// The virtual operations are declared in slot order, since the host calls them through its own
// declaration of the same interface. Nothing is thrown out of them: a value that cannot be written
// or read, for any reason, makes the operation return false; a setter that cannot store (out of
// memory) leaves the value as it was, and a getter that cannot copy returns the type's default.

#include <cstdint>
#include <string>
#include <vector>

namespace SabloDigitalDevice {

class ValueByteWriter;
class ValueByteReader;

// Type codes, the first field of every byte form.
namespace ParameterTypeCode {
constexpr std::int32_t kAction = 0;
constexpr std::int32_t kBool = 1;
constexpr std::int32_t kDouble = 3;
constexpr std::int32_t kString = 4;
constexpr std::int32_t kEnum = 7;
}  // namespace ParameterTypeCode

class IParameterValue {
 public:
  virtual ~IParameterValue();                                                        // 0
  virtual std::int32_t GetType() const = 0;                                          // 1
  // Writes this value's byte form and returns target.AssignFromBytes of it.
  virtual bool CopyTo(IParameterValue& target) const = 0;                            // 2
  // Takes a whole byte form of this class; false for anything else. Fields are stored as they are
  // read, so a refused input may leave the fields read before the fault updated.
  virtual bool AssignFromBytes(const std::uint8_t* data, std::uint32_t length) = 0;  // 3
  virtual void SetAttribute1(bool set) = 0;                                          // 4
  virtual bool GetAttribute1() const = 0;                                            // 5
  virtual void SetAttribute2(bool set) = 0;                                          // 6
  virtual bool GetAttribute2() const = 0;                                            // 7
  virtual void SetAttribute3(bool set) = 0;                                          // 8
  virtual bool GetAttribute3() const = 0;                                            // 9
  // True when other's byte form assigns to a fresh value of this class and every field then
  // matches this one.
  virtual bool Equals(const IParameterValue& other) const = 0;                       // 10

 protected:
  // Values are copied only as their own class, never through the interface (no slicing).
  IParameterValue() = default;
  IParameterValue(const IParameterValue&) = default;
  IParameterValue(IParameterValue&&) = default;
  IParameterValue& operator=(const IParameterValue&) = default;
  IParameterValue& operator=(IParameterValue&&) = default;
};

// Everything but equality for a value of type T: type code, value, the three attributes and the
// byte form without extra data. Classes with extra data override WriteExtra and ReadExtra.
template <class T>
class IParameterValueTemplate : public IParameterValue {
 public:
  std::int32_t GetType() const override { return typeCode_; }
  bool CopyTo(IParameterValue& target) const override;
  bool AssignFromBytes(const std::uint8_t* data, std::uint32_t length) override;
  void SetAttribute1(bool set) override { attribute1_ = set; }
  bool GetAttribute1() const override { return attribute1_; }
  void SetAttribute2(bool set) override { attribute2_ = set; }
  bool GetAttribute2() const override { return attribute2_; }
  void SetAttribute3(bool set) override { attribute3_ = set; }
  bool GetAttribute3() const override { return attribute3_; }

  virtual void SetValue(const T& value);                         // 11
  virtual T GetValue() const;                                    // 12
  // Appends the class's extra data; there is none here.
  virtual void WriteExtra(ValueByteWriter& writer) const;        // 13
  // Reads the class's extra data; there is none here.
  virtual bool ReadExtra(ValueByteReader& reader);               // 14

 protected:
  explicit IParameterValueTemplate(std::int32_t typeCode) : typeCode_(typeCode) {}
  IParameterValueTemplate(const IParameterValueTemplate&) = default;
  IParameterValueTemplate(IParameterValueTemplate&&) = default;
  IParameterValueTemplate& operator=(const IParameterValueTemplate&) = default;
  IParameterValueTemplate& operator=(IParameterValueTemplate&&) = default;

  // Type code, value and attributes equal; each class adds its extra data.
  bool SameCommonFields(const IParameterValueTemplate& other) const;

 private:
  std::int32_t typeCode_;
  T value_{};
  bool attribute1_ = false;
  bool attribute2_ = false;
  bool attribute3_ = false;
};

extern template class IParameterValueTemplate<std::uint32_t>;
extern template class IParameterValueTemplate<bool>;
extern template class IParameterValueTemplate<double>;
extern template class IParameterValueTemplate<std::string>;

// A command the host triggers; the value counts nothing the plugin relies on.
class IParameterValueAction final : public IParameterValueTemplate<std::uint32_t> {
 public:
  IParameterValueAction() : IParameterValueTemplate(ParameterTypeCode::kAction) {}
  bool Equals(const IParameterValue& other) const override;
};

class IParameterValueBool final : public IParameterValueTemplate<bool> {
 public:
  IParameterValueBool() : IParameterValueTemplate(ParameterTypeCode::kBool) {}
  bool Equals(const IParameterValue& other) const override;
};

// A double with the limits and range-check flag that the host applies; the plugin only sets them.
class IParameterValueDouble final : public IParameterValueTemplate<double> {
 public:
  IParameterValueDouble();
  bool Equals(const IParameterValue& other) const override;
  void WriteExtra(ValueByteWriter& writer) const override;
  bool ReadExtra(ValueByteReader& reader) override;

  void SetMinimum(double minimum) { minimum_ = minimum; }
  double GetMinimum() const { return minimum_; }
  void SetMaximum(double maximum) { maximum_ = maximum; }
  double GetMaximum() const { return maximum_; }
  void SetRangeCheck(bool on) { rangeCheck_ = on; }
  bool GetRangeCheck() const { return rangeCheck_; }

 private:
  double minimum_;
  double maximum_;
  bool rangeCheck_ = false;
};

class IParameterValueString final : public IParameterValueTemplate<std::string> {
 public:
  IParameterValueString() : IParameterValueTemplate(ParameterTypeCode::kString) {}
  bool Equals(const IParameterValue& other) const override;
};

// A choice among option texts; the value is the chosen option's text.
class IParameterValueEnum final : public IParameterValueTemplate<std::string> {
 public:
  IParameterValueEnum() : IParameterValueTemplate(ParameterTypeCode::kEnum) {}
  bool Equals(const IParameterValue& other) const override;
  void WriteExtra(ValueByteWriter& writer) const override;
  bool ReadExtra(ValueByteReader& reader) override;

  // Replaces the options.
  virtual void SetOptions(const std::vector<std::string>& options);  // 15
  const std::vector<std::string>& GetOptions() const { return options_; }

 private:
  std::vector<std::string> options_;
};

}  // namespace SabloDigitalDevice
