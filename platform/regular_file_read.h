#pragma once
// Reading configuration and calibration files without ever blocking: the file is opened
// non-blocking and refused unless it is a regular file, so a FIFO, a device node or a directory
// standing where a file is expected can neither hang the caller nor pass for an empty file.

#include <cstddef>
#include <cstdint>
#include <string>

namespace torva::platform {

enum class FileReadStatus {
  kRead,        // `bytes` holds what was asked for
  kMissing,     // nothing at the path (or a path component is not a directory)
  kUnreadable,  // something is there but it is not a regular file, or opening or reading it failed
  kTooLarge,    // ReadRegularFile: the file is larger than the limit; nothing was read
};

struct FileRead {
  FileReadStatus status = FileReadStatus::kMissing;
  std::string bytes;
  std::uint64_t size = 0;  // the file's size when it was opened (kRead and kTooLarge)

  bool Read() const { return status == FileReadStatus::kRead; }
};

// The whole regular file at `path`, refused as kTooLarge (before reading) when it holds more than
// `maxBytes` bytes.
FileRead ReadRegularFile(const std::string& path, std::uint64_t maxBytes);

// The first `count` bytes of the regular file at `path` (all of it when it is shorter); `size`
// tells the whole file's size.
FileRead ReadRegularFileStart(const std::string& path, std::size_t count);

}  // namespace torva::platform
