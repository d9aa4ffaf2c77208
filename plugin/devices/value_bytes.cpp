#include "plugin/devices/value_bytes.h"

#include <cstring>
#include <limits>

namespace SabloDigitalDevice {

static_assert(std::numeric_limits<double>::is_iec559, "the byte form carries IEEE 754 doubles");
static_assert(sizeof(double) == sizeof(std::uint64_t), "a double is written as its eight bytes");

namespace {

constexpr std::size_t kInt32Bytes = 4;
constexpr std::size_t kDoubleBytes = 8;
constexpr std::size_t kBoolBytes = 1;
constexpr std::size_t kBitsPerByte = 8;
constexpr std::uint64_t kLowByte = 0xFF;
constexpr std::size_t kLargestLength = std::numeric_limits<std::uint32_t>::max();

}  // namespace

void ValueByteWriter::AppendLittleEndian(std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    bytes_.push_back(static_cast<std::uint8_t>((value >> (i * kBitsPerByte)) & kLowByte));
  }
}

void ValueByteWriter::WriteInt32(std::int32_t value) {
  // Two's complement bit pattern, as the int32 is stored.
  AppendLittleEndian(static_cast<std::uint32_t>(value), kInt32Bytes);
}

void ValueByteWriter::WriteUInt32(std::uint32_t value) { AppendLittleEndian(value, kInt32Bytes); }

void ValueByteWriter::WriteBool(bool value) { AppendLittleEndian(value ? 1U : 0U, kBoolBytes); }

void ValueByteWriter::WriteDouble(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  AppendLittleEndian(bits, kDoubleBytes);
}

void ValueByteWriter::WriteCount(std::size_t count) {
  if (count > kLargestLength) {
    fieldRefused_ = true;
    return;
  }
  WriteUInt32(static_cast<std::uint32_t>(count));
}

void ValueByteWriter::WriteString(const std::string& text) {
  if (text.size() > kLargestLength) {
    fieldRefused_ = true;
    return;
  }
  WriteCount(text.size());
  bytes_.insert(bytes_.end(), text.begin(), text.end());
}

bool ValueByteWriter::Valid() const { return !fieldRefused_ && bytes_.size() <= kLargestLength; }

bool ValueByteReader::ReadLittleEndian(std::size_t size, std::uint64_t& value) {
  if (size > Remaining()) return false;
  std::uint64_t assembled = 0;
  for (std::size_t i = 0; i < size; ++i) {
    assembled |= static_cast<std::uint64_t>(data_[position_ + i]) << (i * kBitsPerByte);
  }
  position_ += size;
  value = assembled;
  return true;
}

bool ValueByteReader::ReadInt32(std::int32_t& value) {
  std::uint32_t bits = 0;
  if (!ReadUInt32(bits)) return false;
  std::memcpy(&value, &bits, sizeof value);
  return true;
}

bool ValueByteReader::ReadUInt32(std::uint32_t& value) {
  std::uint64_t read = 0;
  if (!ReadLittleEndian(kInt32Bytes, read)) return false;
  value = static_cast<std::uint32_t>(read);
  return true;
}

bool ValueByteReader::ReadBool(bool& value) {
  std::uint64_t read = 0;
  if (!ReadLittleEndian(kBoolBytes, read)) return false;
  value = read != 0;
  return true;
}

bool ValueByteReader::ReadDouble(double& value) {
  std::uint64_t bits = 0;
  if (!ReadLittleEndian(kDoubleBytes, bits)) return false;
  std::memcpy(&value, &bits, sizeof value);
  return true;
}

bool ValueByteReader::ReadString(std::string& text) {
  if (Remaining() < kInt32Bytes) return false;
  const std::size_t start = position_;
  std::uint32_t length = 0;
  ReadUInt32(length);
  if (length > Remaining()) {
    position_ = start;
    return false;
  }
  const char* first = reinterpret_cast<const char*>(data_ + position_);
  text.assign(first, length);
  position_ += length;
  return true;
}

}  // namespace SabloDigitalDevice
