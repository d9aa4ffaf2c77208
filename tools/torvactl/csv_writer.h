#pragma once
// Writes comma-separated rows to a file or standard output. Text fields are quoted when they
// hold a comma, a quote or a line break; numbers are written in their shortest exact form.

#include <cstdio>
#include <memory>
#include <string>

namespace torvactl {

class CsvWriter {
 public:
  // Standard output when `path` is empty; null when the file cannot be created.
  static std::unique_ptr<CsvWriter> Open(const std::string& path);
  ~CsvWriter();
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  void Field(const std::string& text);
  void Number(float value);
  void Integer(long long value);
  void EndRow();
  // Flushes and closes; false when anything failed to be written.
  bool Close();

 private:
  CsvWriter(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
  void Separator();

  std::FILE* file_;
  bool owned_;
  bool rowStarted_ = false;
};

}  // namespace torvactl
