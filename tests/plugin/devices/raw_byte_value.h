#pragma once
// Test helpers for byte forms: a value that stands for one built by another module (its byte form
// is whatever the test puts in, and it records what another value copies to it), and builders of
// literal byte forms.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/devices/parameter_value.h"

namespace SabloDigitalDevice {

using Bytes = std::vector<std::uint8_t>;

class RawByteValue final : public IParameterValue {
 public:
  explicit RawByteValue(Bytes form = {}) : bytes(std::move(form)) {}
  std::int32_t GetType() const override { return -1; }
  bool CopyTo(IParameterValue& target) const override {
    return target.AssignFromBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
  bool AssignFromBytes(const std::uint8_t* data, std::uint32_t length) override {
    bytes.assign(data, data + length);
    return true;
  }
  void SetAttribute1(bool) override {}
  bool GetAttribute1() const override { return false; }
  void SetAttribute2(bool) override {}
  bool GetAttribute2() const override { return false; }
  void SetAttribute3(bool) override {}
  bool GetAttribute3() const override { return false; }
  bool Equals(const IParameterValue&) const override { return false; }

  Bytes bytes;
};

inline Bytes ByteFormOf(const IParameterValue& value) {
  RawByteValue recorder;
  EXPECT_TRUE(value.CopyTo(recorder));
  return recorder.bytes;
}

// A text: its 4-byte length (below 256 here), then its bytes.
inline Bytes Text(const std::string& text) {
  Bytes bytes = {static_cast<std::uint8_t>(text.size()), 0, 0, 0};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

}  // namespace SabloDigitalDevice
