#pragma once
// The byte form in which parameter values cross between plugin and host: fields one after another,
// little-endian, without padding or terminators. A bool is one byte, an int32 or uint32 four, a
// double the eight bytes of its IEEE 754 form, and a string its 4-byte length followed by exactly
// that many bytes.
//
// The writer appends fields to a buffer it owns; the reader takes fields from the front of a byte
// range and refuses every read that needs more bytes than remain, so a malformed or hostile input
// can never make it read past the end or allocate for data that is not there.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace SabloDigitalDevice {

class ValueByteWriter {
 public:
  void WriteInt32(std::int32_t value);
  void WriteUInt32(std::uint32_t value);
  // Always 0 or 1, whatever the bool's storage holds.
  void WriteBool(bool value);
  void WriteDouble(double value);
  // A count or length as a uint32. One larger than a uint32 can state is not written and makes
  // the writer invalid.
  void WriteCount(std::size_t count);
  // The text's length (as WriteCount), then its bytes.
  void WriteString(const std::string& text);
  // Marks a field as not written (one that ran out of memory): the writer is invalid from now on.
  void RefuseField() { fieldRefused_ = true; }

  // False when a field could not be written or the whole form is longer than a 4-byte length can
  // state (a byte form is handed over with a 4-byte length).
  bool Valid() const;
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  void AppendLittleEndian(std::uint64_t value, std::size_t size);

  std::vector<std::uint8_t> bytes_;
  bool fieldRefused_ = false;
};

// Reads from a byte range that the caller keeps alive. Every read either takes its whole field and
// returns true, or returns false and leaves both its target and the read position unchanged.
class ValueByteReader {
 public:
  ValueByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool ReadInt32(std::int32_t& value);
  bool ReadUInt32(std::uint32_t& value);
  // Any nonzero byte is true.
  bool ReadBool(bool& value);
  bool ReadDouble(double& value);
  // Refuses a length beyond the remaining bytes before allocating anything. May throw
  // std::bad_alloc when a length the bytes do hold cannot be allocated.
  bool ReadString(std::string& text);

  std::size_t Remaining() const { return size_ - position_; }

 private:
  bool ReadLittleEndian(std::size_t size, std::uint64_t& value);

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace SabloDigitalDevice
