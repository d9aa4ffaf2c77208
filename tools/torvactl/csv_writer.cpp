#include "tools/torvactl/csv_writer.h"

#include <charconv>

namespace torvactl {
namespace {

constexpr std::size_t kOutputBuffer = 1 << 16;

}  // namespace

std::unique_ptr<CsvWriter> CsvWriter::Open(const std::string& path) {
  std::FILE* file = path.empty() ? stdout : std::fopen(path.c_str(), "wb");
  if (file == nullptr) return nullptr;
  std::setvbuf(file, nullptr, _IOFBF, kOutputBuffer);
  return std::unique_ptr<CsvWriter>(new CsvWriter(file, !path.empty()));
}

CsvWriter::~CsvWriter() { Close(); }

void CsvWriter::Separator() {
  if (rowStarted_) std::fputc(',', file_);
  rowStarted_ = true;
}

void CsvWriter::Field(const std::string& text) {
  Separator();
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    std::fputs(text.c_str(), file_);
    return;
  }
  std::fputc('"', file_);
  for (char c : text) {
    if (c == '"') std::fputc('"', file_);
    std::fputc(c, file_);
  }
  std::fputc('"', file_);
}

void CsvWriter::Number(float value) {
  Separator();
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  std::fwrite(text, 1, static_cast<std::size_t>(result.ptr - text), file_);
}

void CsvWriter::Integer(long long value) {
  Separator();
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  std::fwrite(text, 1, static_cast<std::size_t>(result.ptr - text), file_);
}

void CsvWriter::EndRow() {
  std::fputc('\n', file_);
  rowStarted_ = false;
}

bool CsvWriter::Close() {
  if (file_ == nullptr) return true;
  bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  if (owned_) ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok;
}

}  // namespace torvactl
